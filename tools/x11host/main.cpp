// veltrosa-x11host: shows a VST 2 plug-in's editor in a real X server the way
// a Linux host embeds it, and can take a screenshot of it without a user.
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "Host.h"
#include "X11Host.h"

namespace {

void usage() {
    std::fputs(
        "usage: veltrosa-x11host [options] [PLUGIN.so]\n"
        "  --rate HZ            effEditIdle calls per second, 15..60 (default 30)\n"
        "  --pass-display       hand the host's Display* in value of effEditOpen\n"
        "  --rect-after-open    ask effEditGetRect after effEditOpen instead of before\n"
        "  --screenshot FILE    save the window as PNG after --after-ms\n"
        "  --after-ms N         when to take the screenshot (default 500)\n"
        "  --close-after-ms N   close the editor and quit after N ms\n"
        "Without --close-after-ms it runs until the window is closed, or quits\n"
        "right after the screenshot when one was asked for.\n",
        stderr);
}

bool number(const char* text, int& out) {
    const std::string_view s(text);
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
    return ec == std::errc() && end == s.data() + s.size() && out >= 0;
}

// The plug-in beside this executable, as built.
std::string defaultPlugin(const char* argv0) {
    std::string self(argv0);
    const auto slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/Veltrosa.so";
}

int run(int argc, char** argv) {
    std::string pluginPath = defaultPlugin(argv[0]);
    std::string screenshot;
    int rate = 30, afterMs = 500, closeAfterMs = -1;
    x11host::EditorOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        const bool hasValue = i + 1 < argc;
        if (arg == "--rate" && hasValue && number(argv[i + 1], rate)) {
            ++i;
        } else if (arg == "--pass-display") {
            options.passDisplay = true;
        } else if (arg == "--rect-after-open") {
            options.rectBeforeOpen = false;
        } else if (arg == "--screenshot" && hasValue) {
            screenshot = argv[++i];
        } else if (arg == "--after-ms" && hasValue && number(argv[i + 1], afterMs)) {
            ++i;
        } else if (arg == "--close-after-ms" && hasValue && number(argv[i + 1], closeAfterMs)) {
            ++i;
        } else if (arg == "-h" || arg == "--help") {
            usage();
            return 0;
        } else if (!arg.starts_with("-")) {
            pluginPath = argv[i];
        } else {
            usage();
            return 2;
        }
    }

    std::string error;
    auto plugin = vsthost::Plugin::load(pluginPath, error);
    if (!plugin) {
        std::fprintf(stderr, "veltrosa-x11host: %s\n", error.c_str());
        return 1;
    }
    plugin->start(44100.0f, 512);
    auto window = x11host::HostWindow::create(305, 370, error);
    if (!window) {
        std::fprintf(stderr, "veltrosa-x11host: %s\n", error.c_str());
        return 1;
    }
    x11host::EditorSession editor(*plugin, *window, options);
    if (editor.open() == 0)
        std::fputs("veltrosa-x11host: the plug-in answered 0 to effEditOpen\n", stderr);

    int status = 0;
    int elapsed = 0;
    if (!screenshot.empty()) {
        editor.run(afterMs, rate);
        elapsed = afterMs;
        auto image = window->capture();
        if (!image || !image->writePng(screenshot)) {
            std::fprintf(stderr, "veltrosa-x11host: cannot write %s\n", screenshot.c_str());
            status = 1;
        }
        if (closeAfterMs < 0)
            closeAfterMs = elapsed;
    }
    if (closeAfterMs >= 0)
        editor.run(closeAfterMs - elapsed, rate);
    else
        while (!window->closeRequested())
            editor.run(1000, rate);
    editor.close();
    return status;
}

}  // namespace

// Everything of the run is gone by then, the plug-in unloaded; so are the
// process-wide font and drawing caches, and a leak checker sees a clean exit.
int main(int argc, char** argv) {
    const int status = run(argc, argv);
    cairo_debug_reset_static_data();
    FcFini();
    return status;
}
