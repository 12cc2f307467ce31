#include <cstring>

#include "common/win_values.h"
#include "support/fixtures.h"

class ReportsTest : public CoreTest {};

TEST_F(ReportsTest, EachReportNamesItsSubjectAndMarksTheEntry) {
    reader = new CArchiveReader;
    char name[] = "notes.txt";
    CatalogEntry entry{};
    entry.displayName = name;
    entry.status = 1;
    QueueNode node{nullptr, nullptr, &entry};

    reader->ReportReadError("Unexpected end of file");  // no current entry: nothing marked
    reader->m_current = &node;
    reader->ReportWriteError("CRC error");
    EXPECT_EQ(entry.status, 5u);
    entry.status = 1;
    reader->ReportReadError("Error while reading archive");
    EXPECT_EQ(entry.status, 5u);
    reader->ReportArchiveError("Could not open archive file");
    const std::vector<ScriptedHost::Box> want = {
        {"Fatal Error!", "Error while reading the archive setup.exe.\nUnexpected end of file", MB_ICONERROR},
        {"Fatal Error!", "Error while writing the file notes.txt.\nCRC error", MB_ICONERROR},
        {"Fatal Error!", "Error while reading the archive setup.exe.\nError while reading archive", MB_ICONERROR},
        {"Fatal Error!", "Error while reading the archive setup.exe.\nCould not open archive file", MB_ICONERROR},
    };
    EXPECT_EQ(host.boxes, want);
    EXPECT_EQ(g_errorRaised, 1);
    reader->m_current = nullptr;
}

TEST_F(ReportsTest, LongNameIsCutAndTheMessageKept) {
    const std::string longName(300, 'n');
    SetCorePath(g_szModulePath, "/" + std::string(240, 'q') + ".exe");
    reader = new CArchiveReader;
    CatalogEntry entry{};
    entry.displayName = const_cast<char*>(longName.c_str());
    QueueNode node{nullptr, nullptr, &entry};
    reader->m_current = &node;
    reader->ReportWriteError("Could not create file");
    reader->m_current = nullptr;
    reader->ReportReadError("The current version of the program\ncannot process this archive");
    ASSERT_EQ(host.boxes.size(), 2u);
    for (const auto& box : host.boxes) EXPECT_EQ(box.text.size(), 259u) << box.text;
    EXPECT_EQ(host.boxes[0].text, "Error while writing the file " + std::string(259 - 29 - 23, 'n') + ".\nCould not create file");
    EXPECT_NE(host.boxes[1].text.find(".\nThe current version of the program\ncannot process this archive"), std::string::npos);
}
