#include "duplicates/ContentVerdict.h"

namespace quarn {

std::string_view ContentText(Content content) {
    switch (content) {
        case Content::Identical:
            return "identical";
        case Content::Unique:
            return "unique";
        case Content::HardLink:
            return "hard link";
        case Content::Changed:
            return "changed";
        case Content::Unread:
            return "unread";
        case Content::Folder:
            return "folder";
        case Content::NotVerified:
            break;
    }
    return {};
}

}  // namespace quarn
