#include "support/native_path.h"

#include "platform/text.h"

namespace testing_support {

std::string ansi(const std::string& utf8) {
#ifdef _WIN32
    // Windows hands programs ANSI arguments already; test texts are UTF-8.
    constexpr int kUtf8 = 65001;
    return platform::convert_code_page(utf8, kUtf8, 0);
#else
    return platform::from_command_line(utf8);
#endif
}

std::string command_line_argument(const std::string& utf8) {
#ifdef _WIN32
    return ansi(utf8);
#else
    return utf8;
#endif
}

}  // namespace testing_support
