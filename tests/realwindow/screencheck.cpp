// SPDX-License-Identifier: GPL-3.0-or-later
// Checks screenshots of the window taken by the real-window test.
//   screencheck fresh SHOT        PicTo shows the photograph over the background, as PicFrom does
//   screencheck rendered SHOT A   PicTo is the colour map at A of PicFrom, in one branch
//   screencheck same SHOT1 SHOT2 X Y W H   the two shots agree in that rectangle
// Exits 0 when the check holds, 1 when it does not, 2 on a usage error.
#include "imagechecks.h"

#include <QColorSpace>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

namespace {

// Inner areas of the picture boxes, in window coordinates at 12 twips per pixel.
const QRect picFromInner(12, 12, 187, 207);
const QRect picToInner(282, 12, 187, 207);

QImage load(const char* path)
{
    QImage shot(QString::fromLocal8Bit(path));
    if (shot.isNull())
        std::fprintf(stderr, "screencheck: cannot read %s\n", path);
    // Screenshots carry the screen's colour space; the comparisons are of pixels alone.
    shot.setColorSpace(QColorSpace());
    return shot.convertToFormat(QImage::Format_RGB32);
}

int verdict(bool holds, const char* what)
{
    std::printf("%s: %s\n", what, holds ? "yes" : "no");
    return holds ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "fresh") {
        const QImage shot = load(argv[2]);
        const QImage target = shot.copy(picToInner);
        const bool photo = target.copy(0, 0, 180, 200) == embeddedPhoto();
        return verdict(photo && target == shot.copy(picFromInner), "PicTo shows the photograph");
    }
    if (args.size() == 4 && args[1] == "rendered") {
        const QImage shot = load(argv[2]);
        const auto branch =
            renderedBranch(shot.copy(picFromInner), shot.copy(picToInner), args[3].toFloat());
        if (branch)
            std::printf("branch: %s\n", *branch == transform::Branch::Lower ? "lower" : "upper");
        return verdict(branch.has_value(), "PicTo is the colour map of PicFrom");
    }
    if (args.size() == 8 && args[1] == "same") {
        const QRect area(args[4].toInt(), args[5].toInt(), args[6].toInt(), args[7].toInt());
        return verdict(load(argv[2]).copy(area) == load(argv[3]).copy(area), "the areas agree");
    }
    std::fprintf(stderr,
                 "usage: screencheck fresh SHOT | rendered SHOT A | same SHOT1 SHOT2 X Y W H\n");
    return 2;
}
