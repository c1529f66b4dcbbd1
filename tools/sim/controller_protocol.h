#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Values the simulator answers with. With kind 0 for DM and 1 for TM and the device number
// as read from the command (so "-0012" is -12 and "-0000" is 0):
//   address:    value = (device * 4099 + kind * 1000) mod 65536, never negative
//               (DM 8 gives 32792, DM 100 gives 16684, TM 100 gives 17684, DM -5 gives 45041)
//   counter:    value = (address value + n) mod 65536, n = valid read commands received
//               before this one, so each answer differs from the previous one by 1
//   constant:N: value = N for every device (0..65535)
struct ValuePattern {
  enum class Kind { kAddress, kCounter, kConstant };
  Kind kind = Kind::kAddress;
  uint16_t constant = 0;
};

// What goes wrong with the answers. A fault applies to every answer, "E1" included.
//   none           answer once, at once
//   silent         answer nothing
//   delay:MS       answer after MS milliseconds; other datagrams are not held up meanwhile
//   twice          answer every command twice
//   badlength      answer one byte short (the final LF is missing: 6n bytes instead of 6n+1)
//   altaddress     answer from a second socket bound to the alternative address (port
//                  picked by the system)
//   unsolicited:MS answer normally and also send "00000\r\n" to the last requester every MS ms
//   drop:N         leave every Nth datagram unanswered (counting every datagram received)
//   late:MS        answer at once and send a copy of the answer MS milliseconds later, so
//                  that the copy can come after the answer to the next command
struct Fault {
  enum class Kind {
    kNone,
    kSilent,
    kDelay,
    kTwice,
    kBadLength,
    kAltAddress,
    kUnsolicited,
    kDrop,
    kLateCopy
  };
  Kind kind = Kind::kNone;
  int parameter = 0;  // milliseconds for delay, unsolicited and late, N for drop
};

// What a controller says, apart from how it is carried: the 15-byte read command
// "RDS DM00100 8\r\n", its answer of n five-digit fields ("%05u") with blanks between them and
// CR LF after the last, "E1\r\n" for anything else, the value patterns, and the texts that
// name a pattern or a fault. The server, its control commands, the fuzzer and the soak's
// checker all use this one definition.
class ControllerProtocol {
 public:
  // kind: 0 DM, 1 TM. answerCount only matters for the counter pattern.
  static uint16_t ValueOf(const ValuePattern& pattern, int kind, int32_t device,
                          uint64_t answerCount);
  static std::string BuildReply(const std::vector<uint16_t>& values);
  // True for exactly 15 bytes "RDS " + "DM"|"TM" + 5 digits (or "-" and 4 digits) + " " +
  // count 1..8 + CR LF; then kind, first and count are set.
  static bool ParseCommand(const std::string& bytes, int& kind, int32_t& first, int& count);
  // The answer to any datagram: the values of a valid command under the pattern (answerCount
  // as in ValueOf), otherwise kErrorAnswer. *valid tells which.
  static std::string AnswerTo(const std::string& command, const ValuePattern& pattern,
                              uint64_t answerCount, bool* valid);

  static bool ParsePattern(const std::string& text, ValuePattern* pattern);
  static bool ParseFault(const std::string& text, Fault* fault);

  static constexpr const char* kErrorAnswer = "E1\r\n";
  static constexpr const char* kUnsolicitedBytes = "00000\r\n";
};
