#include "vipsio/openahead.h"

#include "vipsio/sheet.h"
#include "vipsio/start.h"

namespace vipsio {

void openAhead(std::string_view start, const formats::Format* format,
               const command::Options& options)
{
    if (!formats::byMagic(start))
        loadAllModules();
    else
        loadModuleFor(start);
    if (format)
        loadModuleOf(*format);
    if (!options.sheet.empty())
        drawLabels(options.sheet);
}

} // namespace vipsio
