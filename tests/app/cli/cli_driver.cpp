// The command-line verbs alone, exactly as main() hands them over, in a program that does
// not even link the widget libraries: proves the headless path needs no desktop.
#include "app/cli/Cli.h"

int main(int argc, char **argv)
{
    return runCli(argc, argv);
}
