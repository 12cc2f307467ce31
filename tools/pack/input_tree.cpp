#include "pack/input_tree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "pack/pack_checks.h"
#include "system/system.h"

namespace pack {
namespace {

std::string LastComponent(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Child(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

class Walker {
public:
    Walker(const std::vector<FileId>& skip, Diagnostics& diag, const platform::CodePage* codePage)
        : m_skip(skip), m_diag(diag), m_codePage(codePage) {}

    void AddPath(const std::string& path) {
        sys::Status st;
        if (!sys::GetStatus(path, true, st)) return Error(path);
        const std::string name = TopLevelName(path);
        if (st.kind == sys::Kind::Folder) {
            if (name.empty()) return AddFolder(path, ".");
            if (NameOk(name, path)) AddFolder(path, ".\\" + name);
        } else if (st.kind == sys::Kind::File) {
            if (NameOk(name, path)) AddFile(path, ".\\" + name, st);
        } else {
            m_diag.warnings.push_back("skipping " + path + ": not a file or a folder");
        }
    }

    std::vector<InputFile> files;

private:
    void AddFolder(const std::string& folder, const std::string& stored) {
        std::vector<std::string> names;
        if (!sys::ListFolder(folder, names)) return Error(folder);
        if (names.empty()) m_diag.warnings.push_back("the empty folder " + folder + " is not stored: an archive holds files only");
        std::sort(names.begin(), names.end());  // byte order: the same archive on every machine
        for (const std::string& name : names) AddEntry(Child(folder, name), name, stored + "\\" + name);
    }

    void AddEntry(const std::string& path, const std::string& name, const std::string& stored) {
        sys::Status st;
        if (!sys::GetStatus(path, false, st)) return Error(path);
        if (st.link) {
            if (!sys::GetStatus(path, true, st)) {
                m_diag.warnings.push_back("skipping the link " + path + ": " + std::strerror(errno));
                return;
            }
            if (st.kind == sys::Kind::Folder) {
                m_diag.warnings.push_back("skipping the link " + path + " to a folder (links to folders are not followed)");
                return;
            }
        }
        if (st.kind == sys::Kind::Other) {
            m_diag.warnings.push_back("skipping " + path + ": not a file or a folder");
            return;
        }
        if (!NameOk(name, path)) return;
        if (st.kind == sys::Kind::Folder) return AddFolder(path, stored);
        AddFile(path, stored, st);
    }

    void AddFile(const std::string& path, const std::string& stored, const sys::Status& st) {
        for (const FileId& skip : m_skip) {
            if (st.device != skip.device || st.inode != skip.inode) continue;
            if (!skip.why.empty()) m_diag.warnings.push_back("skipping " + path + ": " + skip.why);
            return;
        }
        if (st.size > uint64_t(kMaxFileSize)) {
            m_diag.refusals.push_back(path + " has " + std::to_string(st.size) +
                                      " bytes; an archive holds files of at most " + std::to_string(kMaxFileSize));
            return;
        }
        std::string archived;
        std::string problem = ArchivedName(stored, m_codePage, archived);
        if (problem.empty()) problem = StoredPathProblem(archived, stored);
        if (!problem.empty()) {
            m_diag.refusals.push_back("cannot store " + path + ": " + problem);
            return;
        }
        if (IsLongStoredPath(archived))
            m_diag.warnings.push_back("the stored path " + stored + " has " + std::to_string(archived.size()) +
                                      " characters; it may not fit below a deep destination folder");
        files.push_back({path, stored, archived, st.size});
    }

    bool NameOk(const std::string& name, const std::string& path) {
        const std::string problem = NameProblem(name);
        if (problem.empty()) return true;
        m_diag.refusals.push_back("cannot store " + path + ": " + problem);
        return false;
    }

    void Error(const std::string& path, int error = errno) {
        m_diag.errors.push_back("cannot read " + path + ": " + std::strerror(error));
    }

    const std::vector<FileId>& m_skip;
    Diagnostics& m_diag;
    const platform::CodePage* m_codePage;
};

}  // namespace

std::string TopLevelName(const std::string& path) {
    const std::string last = LastComponent(path);
    if (last == ".") return "";
    if (last != ".." && last != "/" && !last.empty()) return last;
    std::string resolved;
    if (!sys::AbsolutePath(path, resolved)) return last;  // refused later as dots only
    const std::string name = LastComponent(resolved);
    return name == "/" ? "" : name;
}

std::vector<InputFile> CollectInputs(const std::vector<std::string>& paths, const std::vector<FileId>& skip,
                                     Diagnostics& diag, const platform::CodePage* codePage) {
    Walker walker(skip, diag, codePage);
    for (const std::string& path : paths) walker.AddPath(path);
    return std::move(walker.files);
}

}  // namespace pack
