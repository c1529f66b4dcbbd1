#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <vector>

class LogParser;

// Reads a log file into a parser and follows it while it grows: a file watcher and a size
// check every CheckIntervalMs (the watcher misses some appends) both lead to Check(), which
// reads only the bytes appended since the last read. A file that was replaced (another file
// now has its name) or that shrank is read again from its start; a deleted file keeps what
// was read until a file of that name appears again. Large amounts are read in steps of a few
// megabytes, each from a pass of the event loop, so a window stays responsive.
//
// It can also read a sequence of files as one log, oldest first (the logs of several days):
// all but the last are read once, whole, and the last is followed. When the followed file is
// replaced or shrinks, the whole sequence is read again.
class LogFollower : public QObject {
  Q_OBJECT

 public:
  static constexpr int kDefaultCheckIntervalMs = 500;
  static constexpr int64_t kStepBytes = 8 << 20;

  explicit LogFollower(LogParser* parser, QObject* parent = nullptr);
  ~LogFollower() override;

  // Starts reading the file from its start (the parser is reset first). False, with the
  // reason in *error, when it is not a readable regular file.
  bool Open(const QString& path, QString* error);
  // The files in the order they are read, oldest first; the last is followed.
  bool Open(const QStringList& paths, QString* error);
  // Newer files after the last: the one followed until now is read to its end, then these,
  // without reading anything again; the last of them is followed.
  void Extend(const QStringList& newer);
  // Stops reading and following; what was read stays in the parser's columns.
  void Close();
  // Off: no checks and no watcher until it is turned on again.
  void SetFollowing(bool following);
  bool Following() const { return following_; }
  void SetCheckIntervalMs(int ms);

  // Looks at the file now and reads what is new.
  void Check();

  // The file followed (the last of a sequence); empty when none is open.
  QString Path() const { return files_.isEmpty() ? QString() : files_.back(); }
  const QStringList& Paths() const { return files_; }
  bool IsOpen() const { return !files_.isEmpty(); }
  // True when everything up to the size seen at the last look was read.
  bool CaughtUp() const { return !stepTimer_.isActive(); }
  bool FileMissing() const { return missing_; }
  int64_t Offset() const { return offset_; }
  // Bytes read from files since this follower was made: what a check cost.
  uint64_t BytesRead() const { return bytesRead_; }

 signals:
  // Bytes were read and parsed; the columns may have new rows or devices.
  void Read();
  // The file was replaced or shrank: the columns were emptied and it is read from its start.
  void Restarted();
  // The file is gone; what was read stays.
  void Missing();
  // A read failed; a later check tries again.
  void Failed(const QString& message);
  // A check of the file ended; a folder's follower looks for newer files then.
  void Checked();

 private:
  struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const Identity&) const = default;
  };

  void CheckFile();
  void Restart();
  void ReadStep();
  void Watch();
  void Unwatch();
  bool Reading() const { return current_ < static_cast<qsizetype>(files_.size()); }
  bool LastFile() const { return current_ + 1 == static_cast<qsizetype>(files_.size()); }

  LogParser* parser_;
  QStringList files_;
  qsizetype current_ = 0;  // the file being read; the last one once the older are read
  bool identityKnown_ = false;
  Identity identity_;   // of the file being read, from its first look
  int64_t offset_ = 0;  // bytes of the file being read that the parser has
  uint64_t bytesRead_ = 0;
  bool missing_ = false;
  bool following_ = true;
  QTimer checkTimer_;
  QTimer stepTimer_;
  QFileSystemWatcher watcher_;
  std::vector<char> buffer_;
};
