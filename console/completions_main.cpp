// kt5cufirm-completions bash|zsh: prints kt5cufirm's completions for that
// shell, made from the option table (run by the build for the packages).
#include <cstdio>
#include <cstring>

#include "completions.h"

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "bash") == 0)
        return std::fputs(bashCompletion().c_str(), stdout) < 0;
    if (argc == 2 && std::strcmp(argv[1], "zsh") == 0)
        return std::fputs(zshCompletion().c_str(), stdout) < 0;
    std::fputs("Usage: kt5cufirm-completions bash|zsh\n", stderr);
    return 2;
}
