#include "history/ScanStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "settings/Settings.h"

namespace quarn {

namespace {

constexpr const char* kSuffix = ".json.zst";
constexpr size_t kLongestSlug = 48;
constexpr size_t kDefaultKeepScans = 10;

std::string DefaultScanDirectory() {
    const char* data = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/share";
    }
    return base + "/quarn/scans";
}

// Makes `path` and its missing parents.
int MakeDirectories(const std::string& path) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at == path.size() || path[at] == '/') {
            const std::string part = path.substr(0, at);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                return errno;
            }
        }
    }
    return 0;
}

std::string Slug(const std::string& folder) {
    std::string name = folder;
    while (name.size() > 1 && name.back() == '/') {
        name.pop_back();
    }
    const size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
        name = name.substr(slash + 1);
    }
    std::string slug;
    for (char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '-';
        slug += plain ? c : '-';
        if (slug.size() == kLongestSlug) {
            break;
        }
    }
    return slug.empty() ? "root" : slug;
}

int64_t NowMillis() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string TimeText(int64_t unixMillis) {
    const std::time_t seconds = std::time_t(unixMillis / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d%02d%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  int(unixMillis % 1000));
    return text;
}

// Only a time that names itself again: digits where the name has them and
// a date that exists, from 1970 on (what sscanf or timegm would bend into a
// time, such as " 2" for "02" or a 31st of February, is no kept scan's).
bool ParseTime(const std::string& text, int64_t& unixMillis) {
    if (text.size() != 19 || text[8] != 'T' || text[18] != 'Z') {
        return false;
    }
    for (size_t i = 0; i < 18; ++i) {
        if (i != 8 && (text[i] < '0' || text[i] > '9')) {
            return false;
        }
    }
    std::tm utc{};
    int millis = 0;
    if (std::sscanf(text.c_str(), "%4d%2d%2dT%2d%2d%2d%3d", &utc.tm_year, &utc.tm_mon, &utc.tm_mday,
                    &utc.tm_hour, &utc.tm_min, &utc.tm_sec, &millis) != 7 ||
        utc.tm_year < 1970) {
        return false;
    }
    utc.tm_year -= 1900;
    utc.tm_mon -= 1;
    unixMillis = int64_t(timegm(&utc)) * 1000 + millis;
    return TimeText(unixMillis) == text;
}

bool ParseHex(const std::string& text, uint64_t& value) {
    if (text.size() != 16) {
        return false;
    }
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 16);
    return *end == '\0';
}

bool ParseDecimal(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

}  // namespace

size_t KeepScansSetting() {
    const std::string text = ReadSettingText(kKeepScans);
    uint64_t keep = 0;
    if (!ParseDecimal(text, keep)) {
        return kDefaultKeepScans;
    }
    return size_t(std::min<uint64_t>(keep, 100000));
}

ScanStore::ScanStore() : m_directory(DefaultScanDirectory()) {}

ScanStore::ScanStore(std::string directory) : m_directory(std::move(directory)) {}

uint64_t ScanStore::FolderHash(const std::string& folder) {
    return XXH3_64bits(folder.data(), folder.size());
}

std::string ScanStore::FileName(const std::string& folder, const KeptScan& facts) {
    char numbers[120];
    std::snprintf(numbers, sizeof numbers, "_%016" PRIx64 "_%s_%016" PRIx64 "_%" PRIu64 "_%" PRId64,
                  FolderHash(folder), TimeText(facts.unixMillis).c_str(), facts.contentHash,
                  facts.total, facts.files);
    return Slug(folder) + numbers + kSuffix;
}

bool ScanStore::ParseFileName(const std::string& name, uint64_t& folderHash, KeptScan& facts) {
    const std::string suffix = kSuffix;
    if (name.size() <= suffix.size() ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    // The slug may hold no '_', so the fields are the last five.
    std::string rest = name.substr(0, name.size() - suffix.size());
    std::string fields[5];
    for (int i = 4; i >= 0; --i) {
        const size_t cut = rest.rfind('_');
        if (cut == std::string::npos) {
            return false;
        }
        fields[i] = rest.substr(cut + 1);
        rest.resize(cut);
    }
    uint64_t total = 0;
    uint64_t files = 0;
    if (rest.empty() || !ParseHex(fields[0], folderHash) ||
        !ParseTime(fields[1], facts.unixMillis) || !ParseHex(fields[2], facts.contentHash) ||
        !ParseDecimal(fields[3], total) || !ParseDecimal(fields[4], files)) {
        return false;
    }
    facts.total = total;
    facts.files = int64_t(std::min<uint64_t>(files, INT64_MAX));
    return true;
}

std::vector<KeptScan> ScanStore::List(const std::string& folder) const {
    std::vector<KeptScan> scans;
    DIR* dir = ::opendir(m_directory.c_str());
    if (dir == nullptr) {
        return scans;
    }
    const uint64_t wanted = FolderHash(folder);
    while (const dirent* entry = ::readdir(dir)) {
        uint64_t hash = 0;
        KeptScan scan;
        if (ParseFileName(entry->d_name, hash, scan) && hash == wanted) {
            scan.file = m_directory + "/" + entry->d_name;
            scans.push_back(std::move(scan));
        }
    }
    ::closedir(dir);
    std::sort(scans.begin(), scans.end(), [](const KeptScan& a, const KeptScan& b) {
        return a.unixMillis != b.unixMillis ? a.unixMillis > b.unixMillis : a.file > b.file;
    });
    return scans;
}

int ScanStore::CreateTemporary(std::string& tempPath, int& error) const {
    if ((error = MakeDirectories(m_directory)) != 0) {
        return -1;
    }
    std::string pattern = m_directory + "/.keeping-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return -1;
    }
    tempPath = pattern;
    return fd;
}

ScanStore::Kept ScanStore::Commit(const std::string& tempPath, const std::string& folder,
                                  KeptScan facts, size_t keep, std::string& keptFile,
                                  int& error) const {
    error = 0;
    const std::vector<KeptScan> kept = List(folder);
    if (!kept.empty() && kept.front().contentHash == facts.contentHash) {
        ::unlink(tempPath.c_str());
        return Kept::Unchanged;
    }
    if (facts.unixMillis == 0) {
        facts.unixMillis = NowMillis();
    }
    // Two scans in one millisecond still get names of their own, in order.
    if (!kept.empty() && facts.unixMillis <= kept.front().unixMillis) {
        facts.unixMillis = kept.front().unixMillis + 1;
    }
    keptFile = m_directory + "/" + FileName(folder, facts);
    if (::rename(tempPath.c_str(), keptFile.c_str()) != 0) {
        error = errno;
        ::unlink(tempPath.c_str());
        keptFile.clear();
        return Kept::Failed;
    }
    Prune(folder, keep);
    return Kept::Kept;
}

void ScanStore::Prune(const std::string& folder, size_t keep) const {
    const std::vector<KeptScan> kept = List(folder);
    for (size_t i = keep; i < kept.size(); ++i) {
        ::unlink(kept[i].file.c_str());
    }
}

}  // namespace quarn
