#include "viewer/folder_follower.h"

#include <QDir>
#include <utility>

#include "viewer/log_follower.h"

FolderFollower::FolderFollower(LogFollower* follower, QObject* parent)
    : QObject(parent), follower_(follower), clock_([] { return QDateTime::currentDateTime(); }) {
  connect(follower_, &LogFollower::Checked, this, &FolderFollower::Look);
}

void FolderFollower::SetClock(Clock clock) { clock_ = std::move(clock); }

QDate FolderFollower::Today() const { return clock_().date(); }

bool FolderFollower::Open(const QString& folder, const LogFolder::Span& span, QString* error) {
  const QStringList files = LogFolder::Select(LogFolder::List(folder), span);
  if (files.isEmpty()) {
    *error = span.NewestOnly()
                 ? tr("There is no log (*.csv) in %1.").arg(QDir::toNativeSeparators(folder))
                 : tr("There is no log (*.csv) of those days in %1.")
                       .arg(QDir::toNativeSeparators(folder));
    return false;
  }
  // Not looked at while it opens: the guard in Look() holds until followed_ is set.
  const QString followed = std::exchange(followed_, QString());
  if (!follower_->Open(files, error)) {
    followed_ = followed;
    return false;
  }
  folder_ = QDir(folder).absolutePath();
  span_ = span;
  followed_ = follower_->Path();
  return true;
}

void FolderFollower::Close() {
  folder_.clear();
  span_ = {};
  followed_.clear();
}

void FolderFollower::Look() {
  if (folder_.isEmpty() || !follower_->IsOpen() || follower_->Path() != followed_) return;
  const QStringList newer =
      LogFolder::NewerIn(LogFolder::List(folder_), LogFolder::Describe(follower_->Path()), span_);
  if (newer.isEmpty()) return;
  if (span_.NewestOnly()) {
    QString error;
    if (!follower_->Open(newer.back(), &error)) return;  // unreadable yet: tried at the next look
  } else {
    follower_->Extend(newer);
  }
  followed_ = follower_->Path();
  emit MovedOn(follower_->Path());
}
