// ppdedit's I/O layer: the only code that handles descriptors. It reads files
// in blocks (decompressing a gzip input, through Gzip.cpp) and hands out line
// pieces, finds the pieces equal to a given line, writes the output in runs
// (compressed when the input was), and copies in the kernel; Output.cpp
// opens the output file and puts it in place. The engines in PPD.cpp see
// pieces and lines, never a descriptor.
#ifndef FILEIO_H
#define FILEIO_H

#include <cstddef>
#include <cstdio>
#include <sys/types.h>

// One line piece: a slice of a reader's block.
struct Piece {
	const char *text;
	std::size_t len;
};

// What a search of an input that is being copied gives when the block owes
// the output bytes that cannot be written yet (OpenOutputEarly,
// InsertionWaits): they must be, before it reads on.
constexpr int kMustWrite = -2;

// Starts reading the open input and parameter file from their start; an
// input that starts with the gzip magic is read decompressed. Without a
// parameter file, the pieces kept from one are taken again. The names are
// for messages. 0 on failure.
[[nodiscard]] int StartReaders(FILE *in, const char *inPath, FILE *para, const char *paraPath);
// Says that the input named path cannot be opened, err saying why: by the
// reason alone when the output says so (SayReasonsAlone).
void InputNotFound(const char *path, int err);
// Starts reading the parameter file alone, to keep its pieces. 0 on failure.
[[nodiscard]] int StartParaFile(FILE *para, const char *path);
// From now on, the parameter file's pieces are these, taken again by every
// edit: text holds them one after another, ends[i] where piece i ends.
void KeepParaPieces(const char *text, const std::size_t *ends, std::size_t count);
// Takes the parameter file's next line piece: it ends after its LF, after
// kPieceMax bytes, or at the end of the file. 1 for a piece, 0 at the end,
// -1 on a read error.
[[nodiscard]] int NextParaPiece(Piece *piece);
// Takes the next input piece equal to a parameter-file line whose first
// lineTrimmed bytes are its trimmed form. 1, 0 at the end, -1 on an error.
[[nodiscard]] int FindInputPiece(const char *line, std::size_t lineTrimmed, Piece *piece);
// Reads the whole input for a piece equal to the marker, and meanwhile for
// the first piece equal to the anchor, when one is given. 1 when the marker
// is found, 0 at the end, -1 on an error. While the input is copied, also
// kMustWrite; calling it again goes on from there.
[[nodiscard]] int FindMarker(const char *marker, std::size_t markerTrimmed, const char *anchor,
                             std::size_t anchorTrimmed);
// Whether FindMarker met the anchor, and that piece's line ending.
bool AnchorFound();
Piece AnchorEnding();
// Whether FindMarker met the anchor while the input was copied, and what
// goes in after it has yet to be written (CopyThroughAnchor, then WriteOut).
bool InsertionWaits();
// From now on, an input piece matches a parameter-file line when its trimmed
// form begins with the line's, instead of equalling it.
void MatchByPrefix(bool on);
// Writes the input, from where the output stands, up to the end of the
// anchor's piece.
[[nodiscard]] int CopyThroughAnchor();
// Whether the input is a regular file, which can be read again.
bool InputIsFile();
// Whether reading the input failed (said).
bool InputFailed();
// Whether the input, read to its end, is still the file that reading
// started on: its inode, size and times. 0, said, when not.
[[nodiscard]] int InputUnchanged();
// Starts the input again from its first byte; 0 when it cannot be, or when
// the file has changed since it was first read.
[[nodiscard]] int RewindInput();
// Takes the input's text from where the last piece or chunk ended to the
// end of what the block holds, reading more when it holds none: 1, 0 at
// the end, -1 on an error.
[[nodiscard]] int NextInputChunk(Piece *chunk);
// Writes the input unchanged up to its text offset at.
[[nodiscard]] int CopyInputTo(off_t at);
// Writes n bytes in place of the input's next len bytes (none: an
// insertion).
[[nodiscard]] int ReplaceInput(std::size_t len, const char *p, std::size_t n);
// Whether the output could not be opened early (OpenOutputEarly): the input
// must be read again, from its start, once the marker check is done.
bool ReadAgain();
// From now on, input bytes consumed are owed to the output.
void CopyInput();
// From now on, they are not: after a failure to write, or when the output
// cannot be opened before the marker check is done, the rest of the input is
// only searched.
void StopCopying();

// Opens the output named path, and sets *stream to it until the output is
// finished or discarded. 0 on failure.
[[nodiscard]] int OpenOutput(FILE **stream, const char *path);
// The output named path is opened once its first byte must be written: by
// OpenOutputEarly while the marker check is not done yet (the search gives
// kMustWrite), else by OpenOutput after the check.
void OpenOutputLater(FILE **stream, const char *path);
// Opens that output before the marker check is done, but only where it is
// written into a new file renamed into place, and without a word. 1 when it
// is open (or there is none to open); 0 when it cannot be: the input is then
// only searched (StopCopying), and read again after the check (ReadAgain).
[[nodiscard]] int OpenOutputEarly();
// Instead of an output, the edit replaces its input, named path, but only
// once it writes a byte that differs: until then nothing is made. In a dry
// run nothing is ever made; with sync the new file reaches the disk before
// it is reported done. *stream is set once the new file is made.
[[nodiscard]] int ReplaceInputWhenChanged(FILE **stream, const char *path, bool dryRun, bool sync);
// Writes n bytes to the output.
[[nodiscard]] int WriteOut(const char *p, std::size_t n);
// Writes n bytes in place of the input piece just taken; bytes equal to the
// piece's leave it as a copy.
[[nodiscard]] int ReplacePiece(const Piece &piece, const char *p, std::size_t n);
// Copies the rest of the input and puts the output in place: the end of
// every edit that succeeds. On failure the output is discarded.
[[nodiscard]] int FinishOutput();
// Undoes the output after a failure, so that no partial copy survives, and
// closes its stream; safe to call again.
void DiscardOutput();
// Undoes what was written of the output before the marker turned up. 0
// when the new file of an edit in place stays (said), as when an edit that
// changes nothing drops it.
[[nodiscard]] int DropOutput();
// Whether the edit has written anything that differs from its input.
bool InputChanged();
// From now on, an edit in place that changes its file is checked before
// its new text is put in place: one that brings a fault into the PPD fails.
void CheckEdits(bool on);
// From now on, an edit in place that changes its file writes the unified
// diff of its text to fd first (-1: none), naming it label.
void ShowChanges(int fd, const char *label);

#endif
