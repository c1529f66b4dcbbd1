#pragma once

#include <QObject>
#include <cstdint>
#include <functional>

class QEvent;

// The hidden window that receives the socket layer's notifications: the message number and its
// two parameters are handed to the handler inside the handler guard, either at once (Send) or
// by a later pass of the event loop (Post). Events still queued when the window dies are
// dropped with it.
class NotifyWindow : public QObject {
  Q_OBJECT

 public:
  using Handler =
      std::function<void(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)>;

  explicit NotifyWindow(Handler handler, QObject* parent = nullptr);
  ~NotifyWindow() override;

  // Queues the message for this window; it is handled by a later pass of the event loop.
  void Post(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);
  // Handles the message now, for a caller that is itself an event of the loop.
  void Send(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam);

 protected:
  bool event(QEvent* event) override;

 private:
  Handler handler_;
};
