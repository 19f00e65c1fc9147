#include "target_save.h"

#include <cstdio>
#include <cstring>

#include "melno2quaz.h"
#include "output_name.h"
#include "platform.h"
#include "replacement.h"

static_assert(TEMP_PATH_SIZE >= OUTPUT_PATH_SIZE, "a link to an output name must fit NameInfo::target");

int32_t write_target(const PlatformOps& os, const unsigned char* image, const char* given_path,
                     BatchFiles* batch,
                     FileOutcome* outcome)
{
    // The output is named after the source as the system means it: on
    // Windows "city.psu." and the short name of "my long city.psu" are
    // the long names.
    char source_path[PATH_SIZE];
    OutputOwner owner{};
    if (!os.meant_path(os.context, given_path, source_path, sizeof source_path)) {
        if (outcome != nullptr) {
            std::snprintf(outcome->reason, sizeof outcome->reason, "%s",
                          name_search_text(NAME_TOO_LONG));
        }
        return ERR_WRITE_TARGET;
    }
    if (!output_owner(os, source_path, batch, &owner)) {
        return ERR_WRITE_TARGET;
    }
    // A name that refuses the replace at the last moment (held open by the
    // game, say) passes the turn to the next number, as a name already
    // taken does.
    NameUse plain_use = NAME_USABLE;
    for (int number = 0;; ++number) {
        char name[OUTPUT_PATH_SIZE];
        NameInfo found;
        const NameSearch search = find_output_name(os, source_path, "gamedata_", "dat", owner,
                                                   &number, name, &found,
                                                   number == 0 ? &plain_use : nullptr);
        if (search != NAME_FOUND) {
            if (outcome != nullptr) {
                std::snprintf(outcome->reason, sizeof outcome->reason, "%s",
                              name_search_text(search));
            }
            return ERR_WRITE_TARGET;
        }
        // A symbolic link is replaced at the file it leads to, so that the
        // link itself keeps working.
        Replacement output;
        if (!begin_replacement(os, found.target, source_path, &output)) {
            // A link of the user's own that leads into a missing or closed
            // folder passes the turn, as a name already taken does; in the
            // source's own folder no other name can do better.
            if (std::strcmp(found.target, name) == 0) {
                return ERR_WRITE_TARGET;
            }
            if (number == 0) {
                plain_use = NAME_LEADS_NOWHERE;
            }
            continue;
        }
        write_replacement(&output, image, TARGET_SIZE);
        FileIdentity written{};
        const ReplaceResult result = finish_replacement(&output, found.target, &written);
        if (result == REPLACE_DONE) {
            if (batch != nullptr) {
                BatchEntry& entry = batch->entries[batch->current];
                entry.output_known = true;
                entry.output = written;
            }
            if (outcome != nullptr) {
                std::snprintf(outcome->output, sizeof outcome->output, "%s", name);
                outcome->numbered = number != 0;
                std::snprintf(outcome->reason, sizeof outcome->reason, "%s",
                              number != 0 ? name_use_text(plain_use) : "");
            }
            return CONVERT_OK;
        }
        if (result == REPLACE_FAILED) {
            return ERR_WRITE_TARGET;
        }
        if (number == 0) {
            plain_use = NAME_IS_HELD;
        }
    }
}
