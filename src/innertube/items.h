// Mapping of single list items (videos, channels, playlists) of any layout
// into catalogue records. Private to this library.
#pragma once

#include <optional>
#include <vector>

#include "json_read.h"
#include "sarn/model/records.h"

namespace sarn::innertube::detail {

// A video from one item object whose only member names its layout
// ({"videoRenderer":{...}}, {"lockupViewModel":{...}}, ...). nullopt for
// other kinds, for shorts and for items without a video id.
std::optional<Video> video_item(Element item);

// A channel or playlist item of a search answer; nullopt for other kinds.
std::optional<Channel> channel_item(Element item);
std::optional<Playlist> playlist_item(Element item);

// Completes a video record: seed, fallback thumbnail, category, channel seed
// and "Unknown" for a video without channel name.
void finish_video(Video& video);

// Walks a browse answer's containers (tabs, section lists, item sections,
// shelves, grids, rich grids, playlist lists and continuation actions) and
// appends every video item in document order.
void collect_videos(Element node, std::vector<Video>& out);

}  // namespace sarn::innertube::detail
