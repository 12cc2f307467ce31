// LoadCatalog on a whole executable image: marker search, header, key, catalog.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "archive/stored_path.h"
#include "common/globals.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InitOnce();
    fuzz::Sandbox& box = fuzz::Sandbox::Get();
    box.Prepare();
    box.WriteFile(box.exe(), data, size);

    auto* reader = new CArchiveReader;
    CatalogEntry* catalog = reader->LoadCatalog();
    if (reader->m_fdIn != -1) fuzz::Fail("LoadCatalog left the executable open", "");
    // Whatever the catalog holds, every path it lets through is safe to extract.
    for (const CatalogEntry* e = catalog; e; e = e->next) {
        if (!HasStoredPathForm(e->path) || !IsSafeRelativePath(e->path + 2)) fuzz::Fail("unsafe path accepted", e->path);
        if (e->reader != reader || e->status != kEntryRead) fuzz::Fail("entry not set up", e->path);
    }
    FreeCatalog(catalog);
    delete reader;
    return 0;
}
