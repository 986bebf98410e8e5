#pragma once

struct AvBackend;

// The audio/video module's table (the symbol the loader looks up).
extern "C" const AvBackend *perchbox_av_backend();
