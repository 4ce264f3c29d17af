#pragma once
// A temporary folder standing in for the user's settings and data: tests point
// QUARN_INI, XDG_DATA_HOME and the like into it, so that they never read or
// change the machine's own.

#include <memory>
#include <string>
#include <vector>

#include "tests/support/TempTree.h"

namespace quarn::test {

class PrivateHome : public TempTree {
  public:
    PrivateHome() = default;
    // Restores every variable set through this object, then removes the folder.
    ~PrivateHome();

    // Sets the environment variable `name` to Path(relative) while this object
    // lives; the folder or file itself is not made.
    void Point(const char* name, const std::string& relative);
    // Sets `name` to `value` while this object lives.
    void Set(const char* name, const std::string& value);

  private:
    std::vector<std::unique_ptr<ScopedEnv>> m_env;
};

}  // namespace quarn::test
