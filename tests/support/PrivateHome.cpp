#include "tests/support/PrivateHome.h"

namespace quarn::test {

PrivateHome::~PrivateHome() {
    // Last set, first restored: a name set twice gets its first old value back.
    while (!m_env.empty()) {
        m_env.pop_back();
    }
}

void PrivateHome::Point(const char* name, const std::string& relative) {
    Set(name, Path(relative));
}

void PrivateHome::Set(const char* name, const std::string& value) {
    m_env.push_back(std::make_unique<ScopedEnv>(name, value));
}

}  // namespace quarn::test
