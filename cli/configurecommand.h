#pragma once

class Contest;

// qxj-judge --configure: writes the configuration of every problem folder
// that has none, as the configuration dialog's "完成" does with what the
// folder holds (a problem package configured from its problem.xml), and the
// contest file's problem order. With rewriteOwn the dialog's own files are
// written again too; a file someone else wrote is never touched. Prints a
// line per problem. Returns the exit status: 1 when a folder could not be
// configured or a file not written.
int configureContest(Contest &contest, bool rewriteOwn);
