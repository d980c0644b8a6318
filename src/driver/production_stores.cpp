#include "driver/convert_table.h"

#include "stores/ini_store.h"
#include "stores/table_store.h"

StoreFactory ProductionStores() {
    return StoreFactory{
        [] { return std::unique_ptr<TDatFilePath>(std::make_unique<TDatFileStorageDb>()); },
        [] { return std::unique_ptr<TDatFilePath>(std::make_unique<TDatFileStorageIni>()); },
    };
}
