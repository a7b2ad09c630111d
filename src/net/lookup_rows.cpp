// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/lookup_rows.h"

#include <algorithm>
#include <optional>

#include "editor/tag_jobs.h"
#include "tags/tag_model.h"

namespace sondrel::net {

void FillRowsFromDisc(std::vector<BatchRow>& rows, const cddb::DiscInfo& disc, int trackStyle) {
    std::size_t i = 0;
    for (BatchRow& row : rows) {
        if (!row.Checked)
            continue;
        const cddb::TrackText track = disc.Track(i);
        ++i;
        row.data.Track = NormaliseTrack(std::to_string(i), trackStyle);
        row.NewTrack = row.data.Track;
        row.NewTitle = track.title;
        row.NewArtist = track.artist;
        row.NewAlbum = disc.album;
        row.NewYear = disc.year;
        row.NewComment = row.data.Comment;
        row.NewGenre = disc.genre;
    }
}

LookupWriteResult WriteLookupRows(std::vector<BatchRow>& rows, TagBridge& bridge,
                                  const AfterSave& afterSave, const std::function<void()>& step) {
    LookupWriteResult result;
    // The files are flushed together, a group at a time. A save that
    // `afterSave` goes on writing into keeps its own flush: the second write
    // must find the first one's file in place.
    std::optional<SaveGroup> group;
    std::optional<BridgeInGroup> inGroup;
    if (!afterSave) {
        group.emplace();
        inGroup.emplace(bridge, *group);
    }
    for (std::size_t index = 0; index < rows.size(); ++index) {
        const BatchRow& row = rows[index];
        if (!row.Checked)
            continue;
        const std::string path = row.data.FullPath();
        // A file listed twice is read as the first save left it.
        if (group)
            group->CommitIfHolds(path);
        if (!row.data.Valid) {
            result.failures.push_back({path, row.data.Problem});
        } else if (bridge.Read(path) == TagFormat::None) {
            result.failures.push_back({path, "not a kind of file the program tags"});
        } else {
            TagFields hub = bridge.Hub();
            hub.track = row.NewTrack;
            hub.title = row.NewTitle;
            hub.artist = row.NewArtist;
            hub.album = row.NewAlbum;
            hub.year = row.NewYear;
            hub.Genre = row.NewGenre;
            hub.GenreID = GenreIdOf(row.NewGenre);
            // The row holds only the comment's first line: written back
            // unchanged it would cut off the other lines.
            if (row.NewComment != row.data.Comment)
                hub.comment = row.NewComment;
            bridge.setHub(hub);
            const SaveOutcome saved = bridge.Save(path);
            if (!saved.ok) {
                result.failures.push_back({path, saved.error});
            } else {
                result.written.push_back(index);
                // A file whose flush or rename fails was not written after all.
                if (group) {
                    group->WhenCommitted(path, [&result, index, path](const IoResult& r) {
                        if (r)
                            return;
                        std::erase(result.written, index);
                        result.failures.push_back({path, r.error});
                    });
                }
                if (afterSave) {
                    if (std::string error = afterSave(row, bridge); !error.empty())
                        result.failures.push_back({path, std::move(error)});
                }
            }
        }
        if (group && group->Full())
            group->Commit();
        if (step)
            step();
    }
    if (group)
        group->Commit();
    return result;
}

}  // namespace sondrel::net
