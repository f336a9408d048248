#pragma once

#include <QString>

#include <vector>

// Every mouse and key action of every view, in one table: Hilfe > Bedienung
// shows it as text and the README's controls table is the same rows as
// Markdown (a test holds the two together).
struct ControlRow
{
    const char *where;
    const char *doWhat;
    const char *effect;
};

const std::vector<ControlRow> &controlRows();

// The rows as the help window's text, grouped by where they act.
QString controlsHelpText();
// The rows as a Markdown table with the columns Where, Do and Effect.
QString controlsMarkdownTable();
