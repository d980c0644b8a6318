// path2ini: converts a password-protected path table into an INI file.

#include "driver/convert_table.h"
#include "platform/exception.h"
#include "platform/system.h"
#include "platform/text.h"

#include <exception>
#include <new>

namespace {

// How the runtime ends a process that an exception left: the message, which
// was written for the user, then the termination line; exit code 3.
int abnormal_termination(const std::string& message) {
    if (!message.empty()) platform::write_error_line(message);
    platform::write_error_line("Abnormal program termination");
    return 3;
}

}  // namespace

int main(int argc, char* argv[]) {
    platform::set_program_path(argc > 0 ? argv[0] : "");
    try {
        // Before anything is read or written: under a code page other than
        // the one asked for, every name would be read and written wrongly.
        platform::check_ansi_code_page_setting();
        return ConvertTable(argc, argv, ProductionStores());
    } catch (const ShownException&) {
        // Its error box has shown the message already.
        return abnormal_termination(std::string());
    } catch (const Exception& e) {
        return abnormal_termination(e.Message());
    } catch (const std::bad_alloc&) {
        return abnormal_termination("Out of memory");
    } catch (const std::exception& e) {
        return abnormal_termination(e.what());
    }
}
