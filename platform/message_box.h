// The message boxes the core raises. The desktop program shows a modal box
// and blocks the calling thread until it is closed; the headless monitor and
// the tests record or print the text.
#pragma once

#include <string>

namespace orvalin {

class IMessageBox {
  public:
    virtual ~IMessageBox() = default;
    // A box with the application's title, a warning icon and an OK button.
    virtual void ShowWarning(const std::string& text) = 0;
};

}  // namespace orvalin
