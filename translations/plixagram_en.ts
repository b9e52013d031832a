<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Station</name>
    <message>
        <source>%1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print server trouble: %1; the job files stay and are tried again at the next tick</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not a regular file: never opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not printed: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>gone</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: removed before it could be loaded</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>shown only: print mode &quot;%1&quot; prints nothing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting: the file is still being written</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting for the print server</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>interrupted: printed at the next start</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: %2; the file stays in the folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print server available again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: printed in mode %2, %3 copy, printer &quot;%4&quot;, job %5 (%6 s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: printed in mode %2, %3 copies, printer &quot;%4&quot;, job %5 (%6 s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printed, but could not be deleted (%1): not printed again while the station runs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1; %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>folder trouble: %1; looked at again every tick</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot; is readable again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the station sends each label as a PDF document</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>it hands the PDF on to the renderer; install cups-filters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>it renders the PDF dot for dot with Ghostscript; install cups-filters</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ghostscript, which gstoraster runs; install ghostscript</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>other renderers, such as poppler&apos;s pdftoraster, smooth the label&apos;s dots</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: queue &quot;%1&quot; does not accept %2 (%3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: filter %1 is missing from %2 (%3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: program %1 is not installed (%2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: the print server cannot convert %1 to %2 (%3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: the print server converts %1 to %2 with %3, not %4 (%5)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ready</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>watching &quot;%1&quot; in print mode &quot;%2&quot; for printer &quot;%3&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>test print sent: job %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>test print failed: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test print failed: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printing %1 (%2 copy)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printing %1 (%2 copies)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>plixagram: the argument string must have five fields separated by &quot;/&quot;: printer/folder/mode/x/y (it has %1). Example: plixagram &apos;QLS-4100 Xe drivers standard/jobs/1/60/20&apos;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Print mode &quot;%1&quot; prints nothing: only modes &quot;1&quot; (dot replication), &quot;2&quot; (dot replication, first 181 rows) and &quot;3&quot; (scaled image) print. Job pictures are shown and left in the folder.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route not checked: the print server names no queue</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route not checked: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: the print server %1 is not on this machine; its filters are not checked from here</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route checked: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>stop requested by signal</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
