#include "pipeline/ScanRequest.h"

#include "pipeline/ReferenceFolders.h"
#include "settings/ScanScope.h"
#include "settings/Settings.h"
#include "settings/TwinCompare.h"

namespace quarn {

ScanRequest ScanRequestFromSettings(ScanRequest::Source source, std::string root,
                                    const ScanAdditions& additions) {
    ScanRequest request;
    request.source = source;
    request.root = std::move(root);
    request.walk = WithScopeSettings(additions.walk);
    // Both off unless the user turns them on: a missing key keeps the
    // files' lengths, and a scan stays as quick as it was.
    request.allocatedSizes = additions.allocated || ReadSetting(kAllocatedSize, false);
    request.verifyContents = additions.verify || ReadSetting(kVerifyContents, false);
    request.twinCompare = TwinCompareFromSettings();
    request.contentTwins = additions.content || ReadSetting(kTwinsByContent, false);
    if (request.contentTwins) {
        request.twinCompare |= kCompareContent;
    }
    request.twinFoldersIgnoreNames = ReadSetting(kTwinFoldersIgnoreNames, false);
    request.referenceFolders = ReferenceFoldersFromText(ReadSettingText(kReferenceFolders));
    for (const std::string& folder : additions.references) {
        AddReferenceFolder(request.referenceFolders, folder);
    }
    request.hashCache = request.contentTwins && !additions.noCache && ReadSetting(kHashCache, true);
    return request;
}

}  // namespace quarn
