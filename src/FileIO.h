// ppdedit's I/O layer: the only code that handles descriptors. It reads files
// in blocks (decompressing a gzip input, through Gzip.cpp) and hands out line
// pieces, finds the pieces equal to a given line, writes the output in runs
// (compressed when the input was), copies in the kernel, opens, locks and
// empties the output, and guards the process's descriptors and signals. The
// engines in PPD.cpp see pieces and lines, never a descriptor.
#ifndef FILEIO_H
#define FILEIO_H

#include <cstddef>
#include <cstdio>

// One line piece: a slice of a reader's block.
struct Piece {
	const char *text;
	std::size_t len;
};

// Opens standard descriptors that are closed and sets the signal actions,
// before the run opens any file.
void PrepareProcess();

// Starts reading the open input and parameter file from their start; an
// input that starts with the gzip magic is read decompressed. 0 on failure.
[[nodiscard]] int StartReaders();
// Takes the parameter file's next line piece: it ends after its LF, after
// kPieceMax bytes, or at the end of the file. 1 for a piece, 0 at the end,
// -1 on a read error.
[[nodiscard]] int NextParaPiece(Piece *piece);
// Takes the next input piece equal to a parameter-file line whose first
// lineTrimmed bytes are its trimmed form. 1, 0 at the end, -1 on an error.
[[nodiscard]] int FindInputPiece(const char *line, std::size_t lineTrimmed, Piece *piece);
// Reads the whole input for a piece equal to the marker, and meanwhile for
// the first piece equal to the anchor, when one is given. 1 when the marker
// is found, 0 at the end, -1 on an error.
[[nodiscard]] int FindMarker(const char *marker, std::size_t markerTrimmed, const char *anchor,
                             std::size_t anchorTrimmed);
// Whether FindMarker met the anchor.
bool AnchorFound();
// Writes the input, from its start, up to the end of the anchor's piece.
[[nodiscard]] int CopyThroughAnchor();
// Starts the input again from its first byte; 0 when it cannot be.
[[nodiscard]] int RewindInput();
// From now on, input bytes consumed are owed to the output.
void CopyInput();

// Opens the output: created, or emptied once it is known to be neither the
// input nor the parameter file, and locked against a second writer.
[[nodiscard]] int OpenOutput();
// Writes n bytes to the output.
[[nodiscard]] int WriteOut(const char *p, std::size_t n);
// Writes the input bytes owed before the piece just taken, and drops that
// piece: it is replaced by what is written next.
[[nodiscard]] int DropPiece(const Piece &piece);
// Copies the rest of the input, closes the output: the end of every edit
// that succeeds. On failure the output is emptied.
[[nodiscard]] int FinishOutput();
// Empties a regular output after a failure, so no partial copy survives.
void DiscardOutput();

#endif
