#pragma once

#include <QString>

// Where the MP3 encoder lives: "lame" next to our executable, else /usr/bin/lame, else the
// first "lame" on PATH. Empty when there is none.
QString defaultLamePath();
