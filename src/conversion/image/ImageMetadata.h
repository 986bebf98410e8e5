#pragma once

#include <QByteArray>
#include <QString>

// Carrying a picture's metadata into each format that has a place for it. The image library
// keeps IPTC as the source had it; JPEG wants it as a Photoshop resource block (APP13), PNG
// (where the library drops it) in the "Raw profile type iptc" text chunk other tools read.
// Into TIFF the library writes neither EXIF nor whole IPTC (it gives a quarter of the
// records' length as their count): both are added to the file's own directory afterwards.
// WebP and HEIC have no place for IPTC.
//
// All of this works on bytes; nothing here decodes pixels.
namespace ImageMetadata {

// The IPTC records (IIM, a run of 0x1C datasets) in what a decoder gives as IPTC: the
// Photoshop resource block of a JPEG's APP13 segment (with or without its "Photoshop 3.0"
// signature), or the records themselves. Empty when there are none.
QByteArray iptcRecords(const QByteArray &blob);

// The records padded with zeros to a whole number of 32-bit words (TIFF keeps IPTC as an
// array of LONGs).
QByteArray paddedToWords(const QByteArray &records);

// The payload of a JPEG APP13 segment that holds `records`: "Photoshop 3.0", then one
// resource (8BIM, id 0x0404) with the records.
QByteArray photoshopSegment(const QByteArray &records);

// The text of a PNG "Raw profile type iptc" chunk for `records` (a line break, the type, the
// length, then the bytes in hexadecimal, 72 digits a line).
QByteArray rawProfileText(const QByteArray &records);

// Adds a compressed text chunk (zTXt) with `keyword` and `text` to the PNG file at `path`,
// before its end chunk.
bool addPngTextChunk(const QByteArray &path, const QByteArray &keyword, const QByteArray &text, QString *error);

// Adds to the TIFF file at `path` what the image library leaves out or writes wrongly: the
// EXIF block `exif` (a TIFF structure, optionally after "Exif\0\0") as the file's EXIF, GPS
// and interoperability directories, with the descriptive tags of its main directory (camera
// make and model, date, artist, copyright, description, software) that the file lacks; and
// the IPTC in `iptc` (see iptcRecords) as the IPTC tag, in bytes. The file's own directory
// is written anew at its end and the header pointed at it; the image data is not touched.
// True when there was nothing to add.
bool addToTiff(const QByteArray &path, const QByteArray &exif, const QByteArray &iptc, QString *error);

} // namespace ImageMetadata
