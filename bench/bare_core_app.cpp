// A bare Qt Core program: the baseline for the logger's resident memory.

#include <QCoreApplication>
#include <QTimer>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTimer::singleShot(200, &app, &QCoreApplication::quit);
  return QCoreApplication::exec();
}
