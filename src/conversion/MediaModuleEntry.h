#pragma once

struct MediaBackend;

// The media module's table (the symbol the loader looks up).
extern "C" const MediaBackend *perchbox_media_backend();
