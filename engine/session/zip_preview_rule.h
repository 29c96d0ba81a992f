#pragma once

struct DownloadRecord;
struct Settings;

// Whether a download's ZIP contents can be listed before it is fetched: an HTTP(S) archive
// named "*.zip" (not "*.gzip"), of known size, from a server that honours ranges.
bool CanPreviewZip(const DownloadRecord& record);
// The probe then opens the preview by itself when the user asked for that ("AutoPreviewZIP")
// and nothing of the file was fetched yet.
bool OffersZipPreview(const DownloadRecord& record, const Settings& settings, bool sizeKnown);
