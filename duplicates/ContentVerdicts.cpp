#include "duplicates/ContentVerdicts.h"

namespace quarn {

FileVerdict ContentVerdicts::Get(FileId file) const {
    auto found = m_verdicts.find(file);
    return found == m_verdicts.end() ? FileVerdict{} : found->second;
}

std::string ContentVerdicts::Reason(FileId file) const {
    auto found = m_reasons.find(file);
    return found == m_reasons.end() ? std::string() : found->second;
}

void ContentVerdicts::Set(FileId file, const FileVerdict& verdict, std::string reason) {
    m_verdicts[file] = verdict;
    if (reason.empty()) {
        m_reasons.erase(file);
    } else {
        m_reasons[file] = std::move(reason);
    }
}

void ContentVerdicts::Erase(FileId file) {
    m_verdicts.erase(file);
    m_reasons.erase(file);
}

void ContentVerdicts::Clear() {
    m_verdicts.clear();
    m_reasons.clear();
}

}  // namespace quarn
