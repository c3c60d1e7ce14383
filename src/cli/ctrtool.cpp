// ctrtool: reads 3DS images and writes their parts (decrypted images only). Its work lives in the
// container library (ctr/ToolPrograms.h).

#include "cli/ToolHelp.h"
#include "ctr/ToolMain.h"
#include "ctr/ToolPrograms.h"

int main(int raw_argc, char** raw_argv) {
    ctr::TToolArguments arguments(raw_argc, raw_argv);
    const int argc = arguments.Count();
    char** argv = arguments.Values();
    if (AnswerHelpOrVersion(argc, argv, "ctrtool", ctr::CtrtoolUsage))
        return 0;
    return ctr::RunToolMain(argc, "ctrtool", ctr::CtrtoolUsage, [&] {
        ctr::RunCtrtool(std::vector<std::string>(argv + 1, argv + argc));
    });
}
