// One whole run of the program, from the command line to the exit status.
#ifndef TALLYPLOT_RUN_H_
#define TALLYPLOT_RUN_H_

// Runs tallyplot with main's arguments and returns the exit status. The
// password argument is overwritten with 'x' once it has been copied.
int runTallyplot(int argc, char** argv);

#endif  // TALLYPLOT_RUN_H_
