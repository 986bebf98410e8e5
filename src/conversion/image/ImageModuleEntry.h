#pragma once

struct ImageBackend;

// The image module's table (the symbol the loader looks up).
extern "C" const ImageBackend *perchbox_image_backend();
