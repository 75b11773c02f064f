// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class FormsHost;
class QString;
class RenderLoop;

namespace platform {
class RuntimeError;
}

// The three Click handlers. They live as long as the program, resolve the
// window through the host for every statement, and wire themselves to each
// freshly loaded window.
class Commands {
public:
    Commands(FormsHost& host, RenderLoop& loop);

    void go();
    void restart();
    void quit();

private:
    void rejectParameter(const QString& text, const platform::RuntimeError& error);

    FormsHost& host_;
    RenderLoop& loop_;
};
