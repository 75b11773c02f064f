#include "renderjob.h"

#include "embeddedphoto.h"
#include "mapimage.h"
#include "netpbm.h"
#include "outputfile.h"
#include "vipspath.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <unistd.h>
#include <vector>

namespace {

const char* const severalImages =
    "the stream holds more than one image; only a Netpbm output (-f ppm) keeps them all";

// libvips reports the cause first and its consequences (the encoder that
// then had nothing to write) after it; a job's failure is one line. Its
// error text is one for the whole process, so when two files fail at the
// same moment one may find its reason taken by the other.
std::string vipsMessage(const vips::VError& error)
{
    std::string text = error.what();
    vips_error_clear();
    text = text.substr(0, text.find('\n'));
    const std::string ownDomain = "inverse-logistic-render: ";
    if (text.starts_with(ownDomain))
        text.erase(0, ownDomain.size());
    if (text.ends_with("operation is blocked"))
        text += " (libvips marks this loader untrusted; --allow-untrusted permits it)";
    return text.empty() ? "cannot decode or encode it (libvips's reason went with another file's "
                          "error)"
                        : text;
}

class InputFile {
public:
    explicit InputFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int descriptor() const { return fd_; }

private:
    int fd_;
};

std::string renderStream(std::string_view magic, const netpbm::Read& read, const RenderJob& job,
                         const Options& options)
{
    OutputFile output;
    if (std::string error = output.open(job.output, options.overwrite); !error.empty())
        return error;
    const netpbm::Write write = [&output](const char* data, std::size_t size) {
        return output.write(data, size);
    };
    if (std::string error =
            netpbm::render(magic, read, write, options.a, job.branch, options.maxPixels);
        !error.empty())
        return error;
    return output.commit();
}

// Renders a loaded image. `lost`, when given, says before the output is
// committed whether the input held more than the image loaded.
std::string renderImage(const vips::VImage& image, const std::string& loader,
                        std::string_view magic, const RenderJob& job, const Options& options,
                        const std::function<bool()>& lost = {})
{
    if (std::string refusal = vipspath::sizeRefusal(image, options.maxPixels); !refusal.empty())
        return refusal;
    const auto format =
        job.format ? job.format : formats::ofLoader(loader, magic, options.allowUntrusted);
    if (!format)
        return "this program cannot write the input's format (" + loader + "); choose one with -f";
    const vips::VImage mapped = mapImage(image, options.a, job.branch);
    OutputFile output;
    if (std::string error = output.open(job.output, options.overwrite); !error.empty())
        return error;
    if (std::string error = vipspath::save(mapped, *format, options, output); !error.empty())
        return error;
    if (lost && lost())
        return severalImages;
    return output.commit();
}

bool streams(std::string_view magic, const RenderJob& job)
{
    return netpbm::isBinary(magic) && (!job.format || formats::isNetpbm(*job.format));
}

std::ptrdiff_t readDescriptor(int fd, char* data, std::size_t size)
{
    ssize_t n = 0;
    while ((n = ::read(fd, data, size)) < 0 && errno == EINTR) {
    }
    return std::ptrdiff_t(n);
}

// Standard input for libvips: the bytes already read to tell the format
// first, then the rest of the pipe.
struct StandardInputSource {
    std::string start;
    std::size_t given = 0;
    netpbm::MoreImagesWatch watch;

    static gint64 read(VipsSourceCustom*, void* data, gint64 length, StandardInputSource* input)
    {
        if (input->given < input->start.size()) {
            const std::size_t n = std::min(std::size_t(length), input->start.size() - input->given);
            std::memcpy(data, input->start.data() + input->given, n);
            input->given += n;
            input->watch.see(static_cast<const char*>(data), n);
            return gint64(n);
        }
        const std::ptrdiff_t n =
            readDescriptor(STDIN_FILENO, static_cast<char*>(data), std::size_t(length));
        input->watch.see(static_cast<const char*>(data),
                         std::size_t(std::max<std::ptrdiff_t>(n, 0)));
        return n;
    }

    // Whether more images followed the one libvips read, reading on to the end.
    bool moreImages()
    {
        std::vector<char> rest(std::size_t(64) * 1024);
        std::ptrdiff_t n = 0;
        while (!watch.seen() && (n = readDescriptor(STDIN_FILENO, rest.data(), rest.size())) > 0)
            watch.see(rest.data(), std::size_t(n));
        watch.see(nullptr, 0);
        return watch.seen();
    }
};

// Whether a Netpbm file holds anything after its first image.
bool moreImagesInFile(int fd)
{
    std::string head(netpbm::headBytes, '\0');
    head.resize(std::size_t(std::max<ssize_t>(0, ::pread(fd, head.data(), head.size(), 0))));
    const auto first = netpbm::firstImageBytes(head);
    char after[64];
    const ssize_t n = first ? ::pread(fd, after, sizeof after, off_t(*first)) : 0;
    for (ssize_t i = 0; i < n; ++i)
        if (!std::isspace(static_cast<unsigned char>(after[i])))
            return true;
    return false;
}

std::string renderStandardInput(const RenderJob& job, const Options& options)
{
    char start[2] = {};
    std::size_t got = 0;
    for (std::ptrdiff_t n = 1; got < 2 && n > 0; got += std::size_t(std::max<std::ptrdiff_t>(n, 0)))
        n = readDescriptor(STDIN_FILENO, start + got, 2 - got);
    const std::string magic(start, got);
    if (streams(magic, job)) {
        const netpbm::Read read = [](char* data, std::size_t size) {
            return readDescriptor(STDIN_FILENO, data, size);
        };
        return renderStream(magic, read, job, options);
    }
    StandardInputSource input{magic, 0, {}};
    VipsSourceCustom* custom = vips_source_custom_new();
    g_signal_connect(custom, "read", G_CALLBACK(StandardInputSource::read), &input);
    const vips::VSource source(VIPS_SOURCE(custom));
    std::string loader;
    const vips::VImage image = vipspath::load(source, loader);
    return renderImage(image, loader, magic, job, options,
                       [&input, &magic] { return netpbm::isBinary(magic) && input.moreImages(); });
}

std::string renderFile(const RenderJob& job, const Options& options)
{
    const InputFile input(job.input);
    if (input.descriptor() < 0)
        return std::string("cannot open: ") + std::strerror(errno);
    char start[2] = {};
    const ssize_t got = ::read(input.descriptor(), start, 2);
    const std::string magic(start, got == 2 ? 2 : 0);
    if (streams(magic, job)) {
        const netpbm::Read read = [&input](char* data, std::size_t size) {
            return readDescriptor(input.descriptor(), data, size);
        };
        return renderStream(magic, read, job, options);
    }
    std::string loader;
    const vips::VImage image = vipspath::load(job.input, loader);
    return renderImage(image, loader, magic, job, options, [&input, &magic] {
        return netpbm::isBinary(magic) && moreImagesInFile(input.descriptor());
    });
}

} // namespace

std::string renderJob(const RenderJob& job, const Options& options)
{
    if (!job.refusal.empty())
        return job.refusal;
    try {
        if (job.input == embeddedInput)
            return renderImage(embeddedPhotograph(), "", "", job, options);
        if (job.input == "-")
            return renderStandardInput(job, options);
        return renderFile(job, options);
    } catch (const vips::VError& error) {
        return vipsMessage(error);
    }
}
