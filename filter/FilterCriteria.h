#pragma once
// What the File Filter dialog asks for: the dialog's fields, read once when a
// search starts, so the search runs without a window.

#include <string>

namespace quarn {

struct FilterCriteria {
    std::string m_strSearch;    // text the file name must contain (any case); empty = any
    bool m_bSizeRange = false;  // the two bounds below apply
    bool m_bTwinsOnly = true;   // only groups of two or more files
    std::string m_strMinKB;     // lower bound in KB, read like atol; 0 or empty = open
    std::string m_strMaxKB;     // upper bound in KB, read like atol; 0 or empty = open
};

}  // namespace quarn
