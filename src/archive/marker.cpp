#include "archive/archive_reader.h"

// Stored text; never the search form, so the stub's own image cannot match.
char g_szMarker[kMarkerLength + 1] = "beginarchive";

void MakeMarkerSearchForm() {
    for (int i = 0; i < kMarkerLength; ++i) g_szMarker[i] = static_cast<char>(g_szMarker[i] + 1);
}
