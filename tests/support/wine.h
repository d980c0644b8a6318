#pragma once
// Whether a Windows test runs under Wine, for the cases where Wine is known
// to behave differently from Windows (the case is then skipped and says
// why). Always false on POSIX.

namespace testing_support {

bool running_under_wine();

}  // namespace testing_support
