#include "foldersize/FolderReadProblems.h"

#include <cstring>

namespace quarn {

void FolderReadProblems::SetUnreadable(uint32_t folder, int error) {
    Problem& problem = m_byFolder[folder];
    if (problem.error == 0) {
        ++m_unreadableFolders;
    }
    problem.error = error;
}

void FolderReadProblems::AddSkipped(uint32_t folder, int error) {
    Problem& problem = m_byFolder[folder];
    ++problem.skipped;
    problem.skipError = error;
    ++m_skippedEntries;
}

void FolderReadProblems::Put(uint32_t folder, const Problem& problem) {
    Erase(folder);
    if (problem.error == 0 && problem.skipped == 0) {
        return;
    }
    m_byFolder[folder] = problem;
    m_unreadableFolders += problem.error != 0 ? 1 : 0;
    m_skippedEntries += problem.skipped;
}

const FolderReadProblems::Problem* FolderReadProblems::Find(uint32_t folder) const {
    auto found = m_byFolder.find(folder);
    return found == m_byFolder.end() ? nullptr : &found->second;
}

void FolderReadProblems::Erase(uint32_t folder) {
    auto found = m_byFolder.find(folder);
    if (found == m_byFolder.end()) {
        return;
    }
    m_unreadableFolders -= found->second.error != 0 ? 1 : 0;
    m_skippedEntries -= found->second.skipped;
    m_byFolder.erase(found);
}

void FolderReadProblems::Clear() {
    // A scan of a large unreadable area may have grown the table: give it back.
    std::unordered_map<uint32_t, Problem>().swap(m_byFolder);
    m_unreadableFolders = 0;
    m_skippedEntries = 0;
}

std::string FolderReadProblems::Describe(const Problem& problem) {
    std::string text;
    if (problem.error != 0) {
        text = std::strerror(problem.error);
    }
    if (problem.skipped > 0) {
        if (!text.empty()) {
            text += '\n';
        }
        text += std::to_string(problem.skipped);
        text += problem.skipped == 1 ? " entry" : " entries";
        text += " could not be read: ";
        text += std::strerror(problem.skipError);
    }
    return text;
}

}  // namespace quarn
