#include "platform/UserMessage.h"

#include <cstdio>

namespace quarn {

void ShowUserMessage(const UserMessagePresenter& presenter, const std::string& text) {
    if (presenter) {
        presenter(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

}  // namespace quarn
