#include "driver/convert_table.h"

#include "platform/exception.h"

namespace {

// Stands in for a store that is not part of this build yet: every operation
// fails, so a run can never report a conversion it did not make.
class MissingStore final : public TDatFilePath {
public:
    explicit MissingStore(std::string what) : what_(std::move(what)) {}
    std::string StoreFileName(const std::string&) override { return std::string(); }
    void ReadEntry(const std::string&, const std::string&, TDatFileDesc&) override { fail(); }
    void ReadAll(const std::string&, TDatFileDescList&) override { fail(); }
    void WriteAll(const std::string&, TDatFileDescList&) override { fail(); }

private:
    [[noreturn]] void fail() const { throw Exception("The " + what_ + " is not available in this build"); }
    std::string what_;
};

}  // namespace

StoreFactory ProductionStores() {
    return StoreFactory{
        [] { return std::unique_ptr<TDatFilePath>(std::make_unique<MissingStore>("table store")); },
        [] { return std::unique_ptr<TDatFilePath>(std::make_unique<MissingStore>("INI store")); },
    };
}
