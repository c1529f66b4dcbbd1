#pragma once

#include <cstddef>

// What a plain client does with one reply, as the floor of the benchmarks: the row stamp when
// `first`, "," + the signed value of each five-digit field, CR LF when `last`, written to the
// log in one open-append-close. No checks beyond what keeps it in bounds.
void AppendReplyPlainly(const char* fileName, const char* reply, size_t length, bool first,
                        bool last);
