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
    <message>
        <source>Watch folder trouble: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the print server: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the printer: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printer &quot;%1&quot; is print queue &quot;%2&quot;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>following %1 job(s) handed over before the station was last stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: job %2 waits at the printer (%3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: printed on print queue &quot;%2&quot;: job %3 completed at the printer (%4 page(s))</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: printed on print queue &quot;%2&quot;: job %3 completed at the printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: job %2 was cancelled (%3): not printed again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: cannot delete the held file: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: job %2 failed at the printer (%3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1; its file is no longer there to print again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1, and it cannot be put back into the folder: %2; it stays in %3</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: put back as %2 to be printed again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: put back as %2 and set aside: it failed %3 times in a row</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printer &quot;%1&quot; matches no print queue: the jobs go to print queue &quot;%2&quot; (queues: %3)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; is %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1; the job files stay and are printed when it takes jobs again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; takes jobs again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; reports: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting: %1; tried again at the next tick</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>nothing to print, but the file could not be deleted (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>nothing to print</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: nothing to print (no dot of it falls on the label): no job sent, the file is deleted</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: sent to print queue &quot;%2&quot; as job %3 (mode %4, %5 copy, printer &quot;%6&quot;, %7 s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: sent to print queue &quot;%2&quot; as job %3 (mode %4, %5 copies, printer &quot;%6&quot;, %7 s)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>sent to the printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: found held without its job record: put back into the folder to be printed again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: cannot be put back into the folder: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; does not offer %2 dpi: printed at %3 dpi, the label keeps its size</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>test print: nothing to print (no dot in the print colours)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>test print sent to print queue &quot;%1&quot; as job %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the station sends each label as the raster the queue&apos;s driver takes</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the queue&apos;s driver makes the printer&apos;s data with it; reinstall the driver</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: queue &quot;%1&quot; gets the labels as %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>print route: queue &quot;%1&quot; gets the labels as PDF: its driver %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1; only labels the queue&apos;s driver cannot take as raster go that way</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot;: job files are taken again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>took over watch folder &quot;%1&quot;: the station that held it let it go</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>following %1 job(s) taken over from the station that held the folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot;: job files can be taken out again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: removed before it could be printed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>job files cannot be taken out of watch folder &quot;%1&quot; (%2): nothing is printed until that is mended; the files stay</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting: the file cannot be taken out of the folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the held folder &quot;%1&quot; %2: the station neither uses nor touches it and prints nothing until it is mended (remove it: the station makes its own)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot; is not writable by the station (user %2): nothing is printed until it is; as a service, give it write access: see plixagram(1), WATCH FOLDER ACCESS</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot; is held by another station (%2): standing by, printing nothing until it lets go</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the held folder of watch folder &quot;%1&quot; was moved or replaced while the station ran: no new job file is taken until it is back or the station restarts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot be made (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>is a symbolic link</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>is not a folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot be opened (%1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot be opened</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>belongs to user %1, not to the station&apos;s user %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>can be written by others than its owner (mode %1)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: claimed, but the print server has no job for it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: the print server has it as job %2 (handed over before that was recorded): followed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: the print server no longer knows job %2, so whether it printed cannot be told</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: job number %2 now belongs to another job on the print server, so whether it printed cannot be told</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>failed at the printer %1 times in a row: set aside until the file changes or the station restarts</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>removed before it was printed</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1: over after %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 (for %2 now)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>printing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>held at the printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>set aside</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>bad file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>changing</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>retrying</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>shown only</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>stopped</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>stopped: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not accepting jobs</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not accepting jobs: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the station&apos;s state is not written for &quot;plixagram status&quot;: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>no status page: %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>status page on %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>waiting for the print server&apos;s answer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>job %1 at the printer</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>the job history is kept again</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>history is not being kept: %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>plx::Form1</name>
    <message>
        <source>Nothing was printed: the picture has no dot in the print colours.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Printed on &quot;%1&quot;: &quot;%2&quot; is not installed.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
