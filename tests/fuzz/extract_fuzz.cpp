// A whole extraction: the catalog of an executable image, every entry queued
// as the dialog does, and the worker run to its end in a private folder.
#include <cstddef>
#include <cstdint>

#include "archive/archive_reader.h"
#include "common/globals.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::InitOnce();
    fuzz::Sandbox& box = fuzz::Sandbox::Get();
    box.Prepare();
    box.WriteFile(box.exe(), data, size);
    box.Expect("setup.exe");

    auto* reader = new CArchiveReader;
    CatalogEntry* catalog = reader->LoadCatalog();
    if (catalog) {
        for (CatalogEntry* e = catalog; e; e = e->next) reader->EnqueueEntry(e);
        ExtractWorker(reader);
        if (reader->m_fdIn != -1 || reader->m_fdOut != -1) fuzz::Fail("a descriptor left open", "");
        if (reader->m_pszTempPath) fuzz::Fail("temporary path still set", reader->m_pszTempPath);
        box.CheckAfterExtraction(fuzz::Host());
    }
    delete reader;
    FreeCatalog(catalog);
    return 0;
}
