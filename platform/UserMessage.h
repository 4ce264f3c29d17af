#pragma once
// Messages that a worker must show the user and wait for ("App is busy..").
//
// The window installs a presenter that shows a message box on the interface
// thread and blocks the calling worker until it is closed; without one (the
// headless report, the tests) the text goes to stderr.

#include <functional>
#include <string>

namespace quarn {

using UserMessagePresenter = std::function<void(const std::string& text)>;

// Shows `text` with `presenter`, or prints it to stderr when there is none.
void ShowUserMessage(const UserMessagePresenter& presenter, const std::string& text);

}  // namespace quarn
