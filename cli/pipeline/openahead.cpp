// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeline/openahead.h"

#include "loading/start.h"
#include "mapping/sheet.h"

#include <gmodule.h>

namespace pipeline {

namespace {

// libnuma, under the HEVC encoder, reads which processors each node has from
// /sys on first asking and keeps the answer; asked once here, the encoder
// finds its processors in the sandbox, and encodes on all of them.
void readProcessorNodes()
{
    struct Bitmask;
    using MaxNode = int (*)();
    using Allocate = Bitmask* (*)();
    using NodeToCpus = int (*)(int, Bitmask*);
    using Free = void (*)(Bitmask*);
    GModule* program = g_module_open(nullptr, G_MODULE_BIND_LAZY);
    gpointer maxNode = nullptr, allocate = nullptr, nodeToCpus = nullptr, release = nullptr;
    if (program && g_module_symbol(program, "numa_max_node", &maxNode) &&
        g_module_symbol(program, "numa_allocate_cpumask", &allocate) &&
        g_module_symbol(program, "numa_node_to_cpus", &nodeToCpus) &&
        g_module_symbol(program, "numa_bitmask_free", &release)) {
        Bitmask* cpus = reinterpret_cast<Allocate>(allocate)();
        for (int node = 0; node <= reinterpret_cast<MaxNode>(maxNode)(); ++node)
            (void)reinterpret_cast<NodeToCpus>(nodeToCpus)(node, cpus);
        reinterpret_cast<Free>(release)(cpus);
    }
    if (program)
        g_module_close(program);
}

} // namespace

void openAhead(std::string_view start, const formats::Format* format,
               const command::Options& options)
{
    if (!formats::byMagic(start))
        loading::loadAllModules();
    else
        loading::loadModuleFor(start);
    if (format)
        loading::loadModuleOf(*format);
    // Once: a worker's later jobs run in its sandbox, where /sys is closed.
    static const bool nodesRead = (readProcessorNodes(), true);
    (void)nodesRead;
    if (!options.sheet.empty())
        mapping::drawLabels(options.sheet);
}

} // namespace pipeline
