// Any bytes as channels.xml: the parse must not crash or leak, and what it
// builds must hold together.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "directory/channel_list_model.h"
#include "directory/progress_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ChannelListModel list;
    ParseOutcome outcome = list.ParseBuffer(data, size);
    if (outcome != ParseOutcome::Ok && (list.channelCount != 0 || list.first || list.last)) std::abort();

    int32_t walked = 0;
    const ChannelEntry* previous = nullptr;
    for (const ChannelEntry* e = list.first; e; e = e->next) {
        if (e->prev != previous || e->serverCount < 0 || e->serverCount > kMaxServers) std::abort();
        for (int i = 0; i < e->serverCount; ++i)
            if (!e->servers[i]) std::abort();
        previous = e;
        ++walked;
    }
    if (walked != list.channelCount || previous != list.last) std::abort();
    if (list.GetChannel(list.channelCount) != nullptr) std::abort();

    // The header texts also feed the other text helpers, which must stay in bounds.
    char out[64];
    FormatVersionError(out, sizeof out, list.provider, 3, list.version);
    FormatByteCount(out, sizeof out, list.copyright ? list.copyright : "", list.build, list.version);
    (void)ParseContentLength(list.descriptionUrl);
    return 0;
}
