// The paintable that shows a call's video: the newest RGBA picture of a
// VideoFrameSink as a GdkMemoryTexture (no copy: the texture keeps the
// picture's buffer until GTK lets it go), drawn upright with the picture's
// rotation, filling and cropping the area or fitting inside it, and mirrored
// for the local camera. Its intrinsic size is the upright picture's, so
// width and height swap for a quarter turn.
//
// It is a reference-counted GObject: a widget (a GtkPicture) holds one
// reference and whoever feeds it holds another, so either may go first.
//
// THREAD-SAFETY: main queue (GTK's thread) only.
#pragma once

#include <gdk/gdk.h>

#include <memory>

#include "calls/screens/video_frame_sink.h"

namespace orvik {

// A new paintable with nothing to show (a full reference).
GdkPaintable* videoPaintableNew();
bool isVideoPaintable(GdkPaintable* paintable);

void videoPaintableShowFrame(GdkPaintable* paintable, std::shared_ptr<const RgbaVideoFrame> frame);
// Forgets the picture: draws nothing.
void videoPaintableClear(GdkPaintable* paintable);
void videoPaintableSetFill(GdkPaintable* paintable, bool fill);
void videoPaintableSetMirrored(GdkPaintable* paintable, bool mirrored);

// What it shows: the texture (not a new reference; null before the first
// picture), the picture's rotation, and the frames shown so far.
GdkTexture* videoPaintableTexture(GdkPaintable* paintable);
int videoPaintableRotation(GdkPaintable* paintable);
bool videoPaintableFills(GdkPaintable* paintable);
bool videoPaintableIsMirrored(GdkPaintable* paintable);
std::uint64_t videoPaintableFrameCount(GdkPaintable* paintable);

}  // namespace orvik
