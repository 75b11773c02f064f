#include "vipsio/standardinput.h"

#include "fileio/inputfile.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace vipsio {

StandardInputSource::StandardInputSource(std::string_view start)
    : start_(start), source_(VIPS_SOURCE(vips_source_custom_new()))
{
    g_signal_connect(source_.get_source(), "read", G_CALLBACK(read), this);
}

gint64 StandardInputSource::read(VipsSourceCustom*, void* data, gint64 length,
                                 StandardInputSource* input)
{
    auto* bytes = static_cast<char*>(data);
    std::ptrdiff_t n = 0;
    if (input->given_ < input->start_.size()) {
        n = std::ptrdiff_t(std::min(std::size_t(length), input->start_.size() - input->given_));
        std::memcpy(bytes, input->start_.data() + input->given_, std::size_t(n));
        input->given_ += std::size_t(n);
    } else {
        n = readSome(STDIN_FILENO, bytes, std::size_t(length));
    }
    input->watch_.see(bytes, std::size_t(std::max<std::ptrdiff_t>(n, 0)));
    return n;
}

bool StandardInputSource::moreImages()
{
    std::vector<char> rest(std::size_t(64) * 1024);
    std::ptrdiff_t n = 0;
    while (!watch_.seen() && (n = readSome(STDIN_FILENO, rest.data(), rest.size())) > 0)
        watch_.see(rest.data(), std::size_t(n));
    return watch_.seen();
}

} // namespace vipsio
