// SPDX-License-Identifier: GPL-3.0-or-later
#include "film/film.h"

// The one name the program looks the module up by.
extern "C" __attribute__((visibility("default"))) const film::Module* il_film_module()
{
    static const film::Module module{&film::renderFilm, &film::renderShow};
    return &module;
}
