<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>AddFolderDialog</name>
    <message>
        <source>Choose a folder with photos and videos. Quillmere looks at them on this computer; nothing is uploaded.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>AppMenuBar</name>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Folder…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cut</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paste</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find a Moment</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Result</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quick Look</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>More Like This</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Path and Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Markers…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Photos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Bigger Thumbnails</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Smaller Thumbnails</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Exit Full Screen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Resume Indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pause Indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find Duplicates…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Privacy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Quillmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Check for Updates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Finds moments in your own photos and videos, on this computer.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search This Region</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>CustomRangePopup</name>
    <message>
        <source>From</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2024-06-01</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>First day or month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>To</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>2024-08</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last day or month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A day like 2024-06-01 or a month like 2024-06; the last one is included.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Apply</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DuplicateTile</name>
    <message>
        <source>The copy to keep: the largest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Goes to the Trash — click to keep</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Click to move to the Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%2, %1, the copy to keep, goes to the Trash</source>
        <extracomment>%2 is the file&apos;s name, %1 its size</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%2, %1, the copy to keep, kept</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%2, %1, goes to the Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%2, %1, kept</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>DuplicatesWindow</name>
    <message>
        <source>Duplicates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Include near-duplicates (bursts, retakes)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Move to Trash</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Comparing every photo with every other…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No duplicates</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find duplicate photos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every photo in your folders is one of a kind.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FactsGrid</name>
    <message>
        <source>Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Modified</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Match</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>How sure Quillmere is that this picture matches your words</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Taken</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FailedFilesButton</name>
    <message>
        <source>Files Quillmere couldn&apos;t read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Usually a damaged file, a format this computer can&apos;t open, or a video that is copy-protected.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Try Again</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%Ln file(s) couldn&apos;t be read</source>
        <translation>
            <numerusform>%Ln file couldn&apos;t be read</numerusform>
            <numerusform>%Ln files couldn&apos;t be read</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>FirstRunView</name>
    <message>
        <source>Find any moment in your photos and videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drop a folder here</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose Folder…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Everything is analysed on this computer. Nothing is uploaded.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>red car at night</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>whiteboard with a diagram</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type what you remember — “%1”, “%2” — and jump to the exact second.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>FolderLabel</name>
    <message>
        <source>Drive</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No photos or videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Looking for photos and videos…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%Ln item(s)</source>
        <translation>
            <numerusform>%Ln item</numerusform>
            <numerusform>%Ln items</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>FolderRow</name>
    <message>
        <source>Show in Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Index Again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove from Quillmere…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove “%1” from Quillmere?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Its files stay where they are. Quillmere forgets what it learned about them; adding the folder again indexes it again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%2, %1</source>
        <extracomment>%2 is the folder&apos;s name, %1 its count or state</extracomment>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Format</name>
    <message>
        <source>less than a minute left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>about %1 min left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>about %1 h left</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 GB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 MB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your library is being indexed</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n photo(s) and %1 of video ready to search</source>
        <extracomment>%1 is a length of video, such as &quot;1.5 h&quot;</extracomment>
        <translation>
            <numerusform>%n photo and %1 of video ready to search</numerusform>
            <numerusform>%n photos and %1 of video ready to search</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n photo(s) ready to search</source>
        <translation>
            <numerusform>%n photo ready to search</numerusform>
            <numerusform>%n photos ready to search</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 of video ready to search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 ready to search</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n likely match(es)</source>
        <translation>
            <numerusform>%n likely match</numerusform>
            <numerusform>%n likely matches</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n moment(s)</source>
        <translation>
            <numerusform>%n moment</numerusform>
            <numerusform>%n moments</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Export Markers</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export the video results as Final Cut Pro / DaVinci Resolve markers</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Preview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Hide the preview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show the preview</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere can&apos;t start</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Getting your library ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Results appear here as soon as the first files are indexed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Try other words, or describe what is in the picture rather than its name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Index every file again?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Index Again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Nothing matches “%1”</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updating the library…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This version of Quillmere stores the library in a new way. It is updated once; a large library can take a few minutes.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1% done</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ModelOffer</name>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ModelWords</name>
    <message>
        <source>%1 MB</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is being downloaded already, by this or another Quillmere (the application or quillmere-cli). Wait until that download ends.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the list of files of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a model of the hub: give owner/name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&apos;%1&apos; is not a variant&apos;s name (such as quantized or fp16).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The hub&apos;s address %1 is refused: models are downloaded over https:// only, or over http:// from this computer itself (127.0.0.1, [::1] or localhost). Check HF_ENDPOINT.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The hub at %1 has no public model %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The hub at %1 sent a file list this program can&apos;t read (%2).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is not an export this program reads: it has neither visual/model.onnx (Immich&apos;s layout) nor onnx/vision_model.onnx (Optimum / transformers.js).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is in Immich&apos;s layout, which publishes no ONNX variants: download it without one.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 lacks %2, which the import needs.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The hub at %1 lists %2 of %3 with a size of %4 bytes, which no file of a model has. Nothing was downloaded.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 already exists. Remove it first to download %2 again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot write %1: %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not enough room in %1: %2 needs %3, %4 are free.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 sent more than the %2 the hub lists for %3 of %4. What arrived of it was deleted.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 of %2 did not arrive intact: its checksum differs from the hub&apos;s. It was deleted; run the download again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The download stopped. Run the download again to go on where it stopped.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Can&apos;t reach %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The hub at %1 has no %2 in %3 (404).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 refused %2 (HTTP %3).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 stopped sending %2 (%3). Run the download again to go on where it stopped.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot store %1: Cannot write %2: %3. What was downloaded of the model was removed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot store %1: %2. What was downloaded of the model was removed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The transfer of %1 from %2 broke off (%3). Run the download again to go on where it stopped.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is not valid JSON (%2).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not three numbers.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is not a folder. Give the folder of a downloaded export.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The export&apos;s configuration files are not in the form its exporter writes (%1). Download the folder of the export again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read %1 or %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is not an export this program knows. It reads Immich&apos;s model folders (visual/ and textual/ beside config.json) and Optimum / transformers.js folders (onnx/vision_model.onnx, onnx/text_model.onnx, config.json, preprocessor_config.json, tokenizer.json).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The export is incomplete: %1 is missing in %2. Download the whole folder of the export again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Immich&apos;s exports publish no ONNX variants beside their encoders; import %1 without a variant.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The encoders&apos; output widths differ (image %1, text %2): their pooled outputs are not in one space. Use an export of the whole image-text model whose two towers end in vectors of the same width.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The export has no float32 encoders but several variants (%1): import one with &apos;quillmere-cli model import %2 --variant NAME&apos;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The export&apos;s configuration gives no image size or no embedding width.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 already exists. Remove it, or give another destination.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The import failed: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The image encoder has no float input &quot;%1&quot; of four dimensions and output &quot;%2&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The text encoder has no input &quot;%1&quot; of two dimensions and output &quot;%2&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The image encoder takes pictures of %1, but the export&apos;s configuration says %2 pixels a side. The configuration files belong to another export: download the folder again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The encoders&apos; output widths differ (image %1, text %2): they are not one image-text model. Import both encoders of one export.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The encoders give vectors of %1 components, but the export&apos;s configuration says %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the export has only its %1 encoders: those were taken</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the export resamples pictures with &quot;%1&quot; filtering, which this program does not have: it resamples bilinearly instead, so its vectors differ slightly from the exporter&apos;s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>tokenizer: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the export carries no logit scale and bias: the probability uses %1 and %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is in float16, which runs slower here than float32: it was widened to float32, twice its size on disk, with the same weights</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>its float16 weight &quot;%1&quot; is kept in a file of its own</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>in float32 it would pass the 2 GB an ONNX file holds</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot write %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 stays in float16, which runs slower: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read the list of models %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The list of models %1 names &apos;%2&apos;, which is not owner/name.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The list of models %1 is damaged (%2).</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>NoticeBar</name>
    <message>
        <source>Close</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PlayerControls</name>
    <message>
        <source>Pause</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Play</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Position</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Unmute</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Mute</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Volume</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PlayerWindow</name>
    <message>
        <source>Leave Full Screen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Full Screen</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PreviewMedia</name>
    <message>
        <source>Play from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a region of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drag over the picture, or use the arrow keys to move the region and Shift with them to resize it; Return searches, Escape cancels.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Drag over the picture to choose a region</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel choosing a region</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search This Region</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Return</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PreviewPane</name>
    <message>
        <source>No Selection</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Select a result to see it here.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>exact frame</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>of %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open at %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Return</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>More Like This</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search a Region</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a part of the picture to search by</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text in the Picture</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text read in the picture</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ReadyView</name>
    <message>
        <source>Describe what you see in the picture. Try:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>You can also drop a photo here to find pictures like it.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ResultMenu</name>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>More Like This</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy Path and Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open at %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search This Region</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ResultTile</name>
    <message>
        <source>%2, at %1</source>
        <extracomment>%2 is the file&apos;s name, %1 the time of the moment in it</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Found by the text in it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text</source>
        <extracomment>The badge of a result whose picture holds the words searched for</extracomment>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ResultsGrid</name>
    <message>
        <source>Results</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SearchHeader</name>
    <message>
        <source>Clear the image query</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Describe a moment… “red car at night”</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Clear the search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Like %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add words… “at night”, “- people”</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>When taken</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Order</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show only likely matches</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Only moments at least %1% likely to match your words</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Until %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>From %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 – %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>SettingsWindow</name>
    <message>
        <source>Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Privacy</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Model</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add a folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove the folder from Quillmere (its files stay where they are)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>New and changed files are indexed by themselves.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Everything is analysed on this computer. Nothing is uploaded.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere looks at your photos and videos with a model that runs on this computer. It keeps what it learned — and a small picture of each moment — in its own library on this computer. It sends nothing anywhere: no account, no analytics, no crash reports.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Library: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase Library…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Chosen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use a Model Folder…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Importing and checking the model…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Imported with these differences from the export:
%1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose a Model Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use “%1”?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere uses it from the next time you open it, and then indexes every photo and video again, which takes a while. Your photos and videos are not touched.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use Model</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase what Quillmere learned?</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Your photos and videos are not touched. Quillmere forgets its folders; add them again to index them again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Erase and Index Again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%2, %1</source>
        <extracomment>%2 is the folder&apos;s name, %1 its count or state</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download a Model</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Likely matches are at least</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Least likelihood of a likely match, in percent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>% likely to match.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Remove Partial Download</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text</source>
        <extracomment>The settings tab about reading the text in pictures</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read text in pictures</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere reads the words in photos and video moments, so that typing them finds the picture. Switched off, it reads no more, and keeps what it has read.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Reads English and Chinese, and a few accented letters (é, è, ä, ü); not ö, ñ, ç, ß, ø, å, € or £.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>Sidebar</name>
    <message>
        <source>Library</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>All Folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folders</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Add Folder…</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>StatusPanel</name>
    <message>
        <source>Resume indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pause indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>estimating time…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Index Anyway</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 · %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%Ln video(s) are in formats this computer can&apos;t play</source>
        <translation>
            <numerusform>%Ln video is in a format this computer can&apos;t play</numerusform>
            <numerusform>%Ln videos are in formats this computer can&apos;t play</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%Ln folder(s) can&apos;t be read; their files are kept</source>
        <translation>
            <numerusform>%Ln folder can&apos;t be read; its files are kept</numerusform>
            <numerusform>%Ln folders can&apos;t be read; their files are kept</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>quillmere::Actions</name>
    <message>
        <source>the drive</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Connect %1 to open %2.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No application is set up to open %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A timeline with every found moment and a marker on the frame — for Final Cut Pro (File › Import › XML) and DaVinci Resolve (File › Import › Timeline). Save as .csv for a spreadsheet.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Final Cut Pro XML (*.fcpxml)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Comma-separated text (*.csv)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This is a development build</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Updates come with the release from %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>An export is still being saved. Export again when it is done.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There are no video results to export. Search for a moment in your videos first.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Exported %n moment(s) to %1.</source>
        <translation>
            <numerusform>Exported %n moment to %1.</numerusform>
            <numerusform>Exported %n moments to %1.</numerusform>
        </translation>
    </message>
    <message>
        <source>Couldn&apos;t save the export: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::AppModel</name>
    <message>
        <source>red</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>blue sky</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>dark night</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>green grass</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>orange sunset</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>white snow</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>bright and sunny</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>pink flower</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>red car at night</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>whiteboard with a diagram</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>dog running on the beach</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>birthday cake with candles</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>snowy mountains</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>people dancing at a concert</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>drone shot of a coastline</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cooking in a kitchen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not a folder: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The search model is missing. Reinstall Quillmere.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library was indexed with %1; using %2 means indexing every file again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library was indexed with another model named %1, whose vectors have another width; using this one means indexing every file again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library %1 is in use by another Quillmere process (the app or an indexing quillmere-cli). Quit it, or wait until it is done, and try again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This library was made by a newer version of Quillmere.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::DuplicatesModel</name>
    <message numerus="yes">
        <source>Same photo · %n copies</source>
        <translation>
            <numerusform>Same photo · %n copy</numerusform>
            <numerusform>Same photo · %n copies</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Very similar · %n photo(s)</source>
        <translation>
            <numerusform>Very similar · %n photo</numerusform>
            <numerusform>Very similar · %n photos</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n group(s) · %1 to remove · %2 to free</source>
        <extracomment>%1 is the number of photos marked for the Trash, %2 their size</extracomment>
        <translation>
            <numerusform>%n group · %1 to remove · %2 to free</numerusform>
            <numerusform>%n groups · %1 to remove · %2 to free</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Moved %n photo(s) to the Trash.</source>
        <translation>
            <numerusform>Moved %n photo to the Trash.</numerusform>
            <numerusform>Moved %n photos to the Trash.</numerusform>
        </translation>
    </message>
    <message>
        <source>Some files couldn&apos;t be moved to the Trash: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%n photo(s) left where they are: their drive is not connected.</source>
        <translation>
            <numerusform>%n photo left where it is: its drive is not connected.</numerusform>
            <numerusform>%n photos left where they are: their drive is not connected.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>quillmere::FolderModel</name>
    <message>
        <source>%1 can&apos;t be added: Quillmere adds folders on this computer only.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere isn&apos;t ready.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Another Quillmere process is indexing this library. Add the folder when it is done.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folder not found: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not a folder: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::IndexingStatus</name>
    <message>
        <source>Looking for new files…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 · %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>Up to date · %Ln item(s)</source>
        <translation>
            <numerusform>Up to date · %Ln item</numerusform>
            <numerusform>Up to date · %Ln items</numerusform>
        </translation>
    </message>
    <message>
        <source>Another Quillmere process is indexing this library. You can search; new files are indexed when Quillmere is opened again after it ends.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paused</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paused while Power Saver is on</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Paused while the computer cools down</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the disk holding %1 is full</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>your disk quota for %1 is used up</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the disk holding %1 is read-only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the disk holding %1 reports an input/output error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the library file in %1 is read-only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The library can&apos;t be written: %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message numerus="yes">
        <source>%1 %Ln file(s) wait to be indexed.</source>
        <translation>
            <numerusform>%1 %Ln file waits to be indexed.</numerusform>
            <numerusform>%1 %Ln files wait to be indexed.</numerusform>
        </translation>
    </message>
    <message>
        <source>Text in pictures is not read: no text model is installed.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text in pictures is not read: the text model is damaged.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::LibrarySettings</name>
    <message>
        <source>Quillmere forgot its folders but couldn&apos;t compact its library: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere forgot its folders. The library now takes %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No model loaded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Demo model (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It knows colours and light only: it can find a red photo or a dark one, but not a dog, a beach or a face.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>It finds photos and moments from a description in words (%1).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A model named %1 is already imported: choose it in the list above.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t import the model: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t choose the model: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is chosen, but QUILLMERE_MODEL_DIR names another model: unset it, then quit and open Quillmere again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is chosen. Quit and open Quillmere again to use it; every file is then indexed again.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Download one of the models below (the only time Quillmere goes online, to the model hub alone), or choose an export&apos;s folder you downloaded yourself (Immich&apos;s or Optimum&apos;s layout). Every file is then indexed again.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::ModelDownloads</name>
    <message>
        <source>%1 · %2 · ImageNet %3 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Downloading %1: %2 %</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 is downloaded. Choose it in Settings to search by meaning.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Couldn&apos;t download %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The demo model only knows colours. Download %1 (%2) to search by meaning.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Indexes 10,000 photos in about %1 on this computer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 · %2 · matches close to the full model&apos;s</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Faster than the full model</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Partly downloaded: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::OfflineNotes</name>
    <message>
        <source>On %1 — not connected</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>a drive</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>On %1 that isn&apos;t connected. Connect it to open this file.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Not connected · %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>drive</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::PreviewFacts</name>
    <message>
        <source>%1, %2</source>
        <extracomment>%1 is a date, %2 a time of day</extracomment>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Best match</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Strong match</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Good match</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Possible match</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::SearchModel</name>
    <message>
        <source>All</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Photos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Videos</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Any Time</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This Week</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This Month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>This Year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Last Year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Custom Range…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Type the first day or month, the last, or both.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>“%1” is not a day like 2024-06-01 or a month like 2024-06.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The range ends before it starts.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Best Match</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Newest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Oldest</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>until %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>from %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>today</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>this week</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>this month</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>this year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>last year</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>newest first</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>oldest first</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the region covers less than a pixel of the picture</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the region&apos;s values must be numbers</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the region must start inside the picture (X and Y from 0)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the region must have a width and a height above 0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the region must end inside the picture (X+W and Y+H at most 1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 could not be read as a photo or a video.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A query needs something to look for: add a term without a minus.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The query&apos;s terms cancel each other out.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The weight %1 cannot be used: a term&apos;s weight lies between %2 and %3.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>quillmere::Tray</name>
    <message>
        <source>Show Quillmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Resume Indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Pause Indexing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Quillmere
%1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
