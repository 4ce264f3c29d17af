#pragma once
// Checks that need permissions to keep the process out: chmod does not keep
// root out, so as root the check runs in a child process as nobody.

#include <functional>
#include <optional>
#include <string>

namespace quarn::test {

// Runs `check` as a user that permissions keep out (nobody) when the tests
// run as root, else as ourselves; returns what it returned, or nothing when
// privileges cannot be dropped. The tree it reads must be open to others
// (as root, chmod 0755 the temporary root first). In the child only the
// calling thread exists: `check` may start threads of its own, but must not
// rely on threads of the test process.
std::optional<std::string> RunUnprivileged(const std::function<std::string()>& check);

}  // namespace quarn::test
