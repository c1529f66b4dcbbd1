#pragma once

#include <exception>
#include <functional>
#include <string>
#include <utility>

// Every event handler runs inside Run(). No exception may cross the event dispatch: an error
// that leaves a handler either ends in the error reporter (the standard error box), or, when
// the handler was dispatched inside one of the two waits (Stop/close and host lookup), is
// carried out of that wait by DispatchPass() so that the wait's caller is left too.
class HandlerGuard {
 public:
  using Reporter = std::function<void(const std::string& message)>;

  // Installs what shows an error that reached the event loop; returns the previous one.
  static Reporter SetReporter(Reporter reporter);

  template <typename F>
  static void Run(F&& handler) noexcept {
    try {
      std::forward<F>(handler)();
    } catch (...) {
      Deliver(std::current_exception());
    }
  }

  // One dispatch pass of a wait: blocks until at least one event is there, dispatches what is
  // pending, and rethrows the first error that left a handler dispatched meanwhile.
  static void DispatchPass();

  // While alive, handlers dispatched by a nested modal loop report their errors in the box
  // instead of carrying them out of an enclosing wait.
  class ModalScope {
   public:
    ModalScope();
    ~ModalScope();
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

   private:
    std::exception_ptr* saved_;
  };

  // The text an error shows: its message, or a generic one for a non-standard exception.
  static std::string MessageOf(const std::exception_ptr& error);

 private:
  static void Deliver(std::exception_ptr error) noexcept;
};
