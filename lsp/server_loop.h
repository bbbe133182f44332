// The program's loop around the language server: reads the framed messages from a file
// descriptor, hands the ones that arrived together to the server, writes its messages framed,
// and lets it do its put-off work when the input is quiet.
#pragma once

// Runs until the client sends exit or the input ends; the program's exit status (0 only after
// a shutdown request).
int runLanguageServer(int input, int output);
