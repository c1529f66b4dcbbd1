#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

class QEvent;

// The hidden window that receives the socket layer's notifications: a posted event carries the
// message number and its two parameters, which are handed to the handler inside the handler
// guard. Events still queued when the window dies are dropped with it.
class NotifyWindow : public QObject {
  Q_OBJECT

 public:
  using Handler =
      std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

  explicit NotifyWindow(Handler handler, QObject* parent = nullptr);
  ~NotifyWindow() override;

  // Queues the message for this window; it is handled by a later pass of the event loop.
  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

 protected:
  bool event(QEvent* event) override;

 private:
  Handler handler_;
};
