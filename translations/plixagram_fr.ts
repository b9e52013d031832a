<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr">
<context>
    <name>Station</name>
    <message>
        <source>%1: %2</source>
        <translation>%1 : %2</translation>
    </message>
    <message>
        <source>print server trouble: %1; the job files stay and are tried again at the next tick</source>
        <translation>problème de serveur d&apos;impression : %1 ; les fichiers restent et seront repris au prochain passage</translation>
    </message>
    <message>
        <source>not a regular file: never opened</source>
        <translation>pas un fichier ordinaire : jamais ouvert</translation>
    </message>
    <message>
        <source>not printed: %1</source>
        <translation>non imprimé : %1</translation>
    </message>
    <message>
        <source>gone</source>
        <translation>disparu</translation>
    </message>
    <message>
        <source>%1: removed before it could be loaded</source>
        <translation>%1 : supprimé avant de pouvoir être chargé</translation>
    </message>
    <message>
        <source>waiting: %1</source>
        <translation>en attente : %1</translation>
    </message>
    <message>
        <source>shown only: print mode &quot;%1&quot; prints nothing</source>
        <translation>affiché seulement : le mode d&apos;impression « %1 » n&apos;imprime rien</translation>
    </message>
    <message>
        <source>waiting: the file is still being written</source>
        <translation>en attente : le fichier est encore en cours d&apos;écriture</translation>
    </message>
    <message>
        <source>waiting for the print server</source>
        <translation>en attente du serveur d&apos;impression</translation>
    </message>
    <message>
        <source>interrupted: printed at the next start</source>
        <translation>interrompu : imprimé au prochain démarrage</translation>
    </message>
    <message>
        <source>%1: %2; the file stays in the folder</source>
        <translation>%1 : %2 ; le fichier reste dans le dossier</translation>
    </message>
    <message>
        <source>print server available again</source>
        <translation>serveur d&apos;impression de nouveau disponible</translation>
    </message>
    <message>
        <source>%1; %2</source>
        <translation>%1 ; %2</translation>
    </message>
    <message>
        <source>folder trouble: %1; looked at again every tick</source>
        <translation>problème de dossier : %1 ; vérifié de nouveau à chaque passage</translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot; is readable again</source>
        <translation>le dossier surveillé « %1 » est de nouveau lisible</translation>
    </message>
    <message>
        <source>the station sends each label as a PDF document</source>
        <translation>la station envoie chaque étiquette en document PDF</translation>
    </message>
    <message>
        <source>it hands the PDF on to the renderer; install cups-filters</source>
        <translation>il transmet le PDF au moteur de rendu ; installez cups-filters</translation>
    </message>
    <message>
        <source>it renders the PDF dot for dot with Ghostscript; install cups-filters</source>
        <translation>il rend le PDF point par point avec Ghostscript ; installez cups-filters</translation>
    </message>
    <message>
        <source>Ghostscript, which gstoraster runs; install ghostscript</source>
        <translation>Ghostscript, que gstoraster exécute ; installez ghostscript</translation>
    </message>
    <message>
        <source>other renderers, such as poppler&apos;s pdftoraster, smooth the label&apos;s dots</source>
        <translation>les autres moteurs de rendu, comme pdftoraster de poppler, lissent les points de l&apos;étiquette</translation>
    </message>
    <message>
        <source>print route: queue &quot;%1&quot; does not accept %2 (%3)</source>
        <translation>chaîne d&apos;impression : la file « %1 » n&apos;accepte pas %2 (%3)</translation>
    </message>
    <message>
        <source>print route: filter %1 is missing from %2 (%3)</source>
        <translation>chaîne d&apos;impression : le filtre %1 manque dans %2 (%3)</translation>
    </message>
    <message>
        <source>print route: program %1 is not installed (%2)</source>
        <translation>chaîne d&apos;impression : le programme %1 n&apos;est pas installé (%2)</translation>
    </message>
    <message>
        <source>print route: the print server cannot convert %1 to %2 (%3)</source>
        <translation>chaîne d&apos;impression : le serveur d&apos;impression ne sait pas convertir %1 en %2 (%3)</translation>
    </message>
    <message>
        <source>print route: the print server converts %1 to %2 with %3, not %4 (%5)</source>
        <translation>chaîne d&apos;impression : le serveur d&apos;impression convertit %1 en %2 avec %3, et non %4 (%5)</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>Prêt</translation>
    </message>
    <message>
        <source>watching &quot;%1&quot; in print mode &quot;%2&quot; for printer &quot;%3&quot;</source>
        <translation>surveillance de « %1 » en mode d&apos;impression « %2 » pour l&apos;imprimante « %3 »</translation>
    </message>
    <message>
        <source>test print failed: %1</source>
        <translation>échec de l&apos;impression de test : %1</translation>
    </message>
    <message>
        <source>Test print failed: %1</source>
        <translation>Échec de l&apos;impression de test : %1</translation>
    </message>
    <message>
        <source>printing %1 (%2 copy)</source>
        <translation>impression de %1 (%2 exemplaire)</translation>
    </message>
    <message>
        <source>printing %1 (%2 copies)</source>
        <translation>impression de %1 (%2 exemplaires)</translation>
    </message>
    <message>
        <source>plixagram: the argument string must have five fields separated by &quot;/&quot;: printer/folder/mode/x/y (it has %1). Example: plixagram &apos;QLS-4100 Xe drivers standard/jobs/1/60/20&apos;</source>
        <translation>plixagram : la chaîne d&apos;arguments doit avoir cinq champs séparés par « / » : imprimante/dossier/mode/x/y (elle en a %1). Exemple : plixagram &apos;QLS-4100 Xe drivers standard/jobs/1/60/20&apos;</translation>
    </message>
    <message>
        <source>Print mode &quot;%1&quot; prints nothing: only modes &quot;1&quot; (dot replication), &quot;2&quot; (dot replication, first 181 rows) and &quot;3&quot; (scaled image) print. Job pictures are shown and left in the folder.</source>
        <translation>Le mode d&apos;impression « %1 » n&apos;imprime rien : seuls les modes « 1 » (réplication des points), « 2 » (réplication des points, 181 premières lignes) et « 3 » (image mise à l&apos;échelle) impriment. Les images des travaux sont affichées et laissées dans le dossier.</translation>
    </message>
    <message>
        <source>print route not checked: the print server names no queue</source>
        <translation>chaîne d&apos;impression non vérifiée : le serveur d&apos;impression n&apos;indique aucune file</translation>
    </message>
    <message>
        <source>print route not checked: %1</source>
        <translation>chaîne d&apos;impression non vérifiée : %1</translation>
    </message>
    <message>
        <source>print route: the print server %1 is not on this machine; its filters are not checked from here</source>
        <translation>chaîne d&apos;impression : le serveur d&apos;impression %1 n&apos;est pas sur cette machine ; ses filtres ne sont pas vérifiés d&apos;ici</translation>
    </message>
    <message>
        <source>print route checked: %1</source>
        <translation>chaîne d&apos;impression vérifiée : %1</translation>
    </message>
    <message>
        <source>stop requested by signal</source>
        <translation>arrêt demandé par signal</translation>
    </message>
    <message>
        <source>Watch folder trouble: %1</source>
        <translation>Problème de dossier surveillé : %1</translation>
    </message>
    <message>
        <source>Waiting for the print server: %1</source>
        <translation>En attente du serveur d&apos;impression : %1</translation>
    </message>
    <message>
        <source>Waiting for the printer: %1</source>
        <translation>En attente de l&apos;imprimante : %1</translation>
    </message>
    <message>
        <source>printer &quot;%1&quot; is print queue &quot;%2&quot;</source>
        <translation>l&apos;imprimante « %1 » est la file d&apos;impression « %2 »</translation>
    </message>
    <message>
        <source>following %1 job(s) handed over before the station was last stopped</source>
        <translation>suivi de %1 travail(s) remis avant le dernier arrêt de la station</translation>
    </message>
    <message>
        <source>%1: job %2 waits at the printer (%3)</source>
        <translation>%1 : le travail %2 attend à l&apos;imprimante (%3)</translation>
    </message>
    <message>
        <source>%1: printed on print queue &quot;%2&quot;: job %3 completed at the printer (%4 page(s))</source>
        <translation>%1 : imprimé sur la file « %2 » : travail %3 terminé à l&apos;imprimante (%4 page(s))</translation>
    </message>
    <message>
        <source>%1: printed on print queue &quot;%2&quot;: job %3 completed at the printer</source>
        <translation>%1 : imprimé sur la file « %2 » : travail %3 terminé à l&apos;imprimante</translation>
    </message>
    <message>
        <source>%1: job %2 was cancelled (%3): not printed again</source>
        <translation>%1 : le travail %2 a été annulé (%3) : pas réimprimé</translation>
    </message>
    <message>
        <source>%1: the print server no longer knows job %2: counted as ended</source>
        <translation>%1 : le serveur d&apos;impression ne connaît plus le travail %2 : compté comme terminé</translation>
    </message>
    <message>
        <source>%1: cannot delete the held file: %2</source>
        <translation>%1 : impossible de supprimer le fichier retenu : %2</translation>
    </message>
    <message>
        <source>%1: job %2 failed at the printer (%3)</source>
        <translation>%1 : le travail %2 a échoué à l&apos;imprimante (%3)</translation>
    </message>
    <message>
        <source>%1: printed again</source>
        <translation>%1 : imprimé de nouveau</translation>
    </message>
    <message>
        <source>%1; its file is no longer there to print again</source>
        <translation>%1 ; son fichier n&apos;est plus là pour être réimprimé</translation>
    </message>
    <message>
        <source>%1, and it cannot be put back into the folder: %2; it stays in %3</source>
        <translation>%1, et il ne peut pas être remis dans le dossier : %2 ; il reste dans %3</translation>
    </message>
    <message>
        <source>%1: put back as %2 to be printed again</source>
        <translation>%1 : remis sous le nom %2 pour être réimprimé</translation>
    </message>
    <message>
        <source>failed at the printer %1 times in a row (%2): set aside until the file changes or the station restarts</source>
        <translation>a échoué %1 fois de suite à l&apos;imprimante (%2) : mis de côté jusqu&apos;à ce que le fichier change ou que la station redémarre</translation>
    </message>
    <message>
        <source>%1: put back as %2 and set aside: it failed %3 times in a row</source>
        <translation>%1 : remis sous le nom %2 et mis de côté : il a échoué %3 fois de suite</translation>
    </message>
    <message>
        <source>printer &quot;%1&quot; matches no print queue: the jobs go to print queue &quot;%2&quot; (queues: %3)</source>
        <translation>l&apos;imprimante « %1 » ne correspond à aucune file d&apos;impression : les travaux vont à la file « %2 » (files : %3)</translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; is %2</source>
        <translation>la file d&apos;impression « %1 » est %2</translation>
    </message>
    <message>
        <source>%1; the job files stay and are printed when it takes jobs again</source>
        <translation>%1 ; les fichiers restent et seront imprimés quand elle acceptera de nouveau des travaux</translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; takes jobs again</source>
        <translation>la file d&apos;impression « %1 » accepte de nouveau des travaux</translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; reports: %2</source>
        <translation>la file d&apos;impression « %1 » signale : %2</translation>
    </message>
    <message>
        <source>waiting: %1; tried again at the next tick</source>
        <translation>en attente : %1 ; nouvel essai au prochain passage</translation>
    </message>
    <message>
        <source>nothing to print, but the file could not be deleted (%1)</source>
        <translation>rien à imprimer, mais le fichier n&apos;a pas pu être supprimé (%1)</translation>
    </message>
    <message>
        <source>nothing to print</source>
        <translation>rien à imprimer</translation>
    </message>
    <message>
        <source>%1: nothing to print (no dot of it falls on the label): no job sent, the file is deleted</source>
        <translation>%1 : rien à imprimer (aucun point ne tombe sur l&apos;étiquette) : aucun travail envoyé, le fichier est supprimé</translation>
    </message>
    <message>
        <source>%1: sent to print queue &quot;%2&quot; as job %3 (mode %4, %5 copy, printer &quot;%6&quot;, %7 s)</source>
        <translation>%1 : envoyé à la file « %2 » comme travail %3 (mode %4, %5 exemplaire, imprimante « %6 », %7 s)</translation>
    </message>
    <message>
        <source>%1: sent to print queue &quot;%2&quot; as job %3 (mode %4, %5 copies, printer &quot;%6&quot;, %7 s)</source>
        <translation>%1 : envoyé à la file « %2 » comme travail %3 (mode %4, %5 exemplaires, imprimante « %6 », %7 s)</translation>
    </message>
    <message>
        <source>sent to the printer</source>
        <translation>envoyé à l&apos;imprimante</translation>
    </message>
    <message>
        <source>sent as job %1, but it could not be taken out of the folder (%2): not printed again while the station runs</source>
        <translation>envoyé comme travail %1, mais il n&apos;a pas pu être retiré du dossier (%2) : pas réimprimé tant que la station tourne</translation>
    </message>
    <message>
        <source>%1: taken out of the folder after a restart (job %2 was already handed over)</source>
        <translation>%1 : retiré du dossier après un redémarrage (le travail %2 était déjà remis)</translation>
    </message>
    <message>
        <source>%1: found held without its job record: put back into the folder to be printed again</source>
        <translation>%1 : trouvé retenu sans sa fiche de travail : remis dans le dossier pour être réimprimé</translation>
    </message>
    <message>
        <source>%1: cannot be put back into the folder: %2</source>
        <translation>%1 : ne peut pas être remis dans le dossier : %2</translation>
    </message>
    <message>
        <source>print queue &quot;%1&quot; does not offer %2 dpi: printed at %3 dpi, the label keeps its size</source>
        <translation>la file d&apos;impression « %1 » n&apos;offre pas %2 ppp : imprimé à %3 ppp, l&apos;étiquette garde sa taille</translation>
    </message>
    <message>
        <source>test print: nothing to print (no dot in the print colours)</source>
        <translation>impression de test : rien à imprimer (aucun point dans les couleurs d&apos;impression)</translation>
    </message>
    <message>
        <source>test print sent to print queue &quot;%1&quot; as job %2</source>
        <translation>impression de test envoyée à la file « %1 » comme travail %2</translation>
    </message>
    <message>
        <source>the station sends each label as the raster the queue&apos;s driver takes</source>
        <translation>le poste envoie chaque étiquette dans la trame que prend le pilote de la file</translation>
    </message>
    <message>
        <source>the queue&apos;s driver makes the printer&apos;s data with it; reinstall the driver</source>
        <translation>le pilote de la file en fait les données de l&apos;imprimante ; réinstallez le pilote</translation>
    </message>
    <message>
        <source>print route: queue &quot;%1&quot; gets the labels as %2</source>
        <translation>chaîne d&apos;impression : la file « %1 » reçoit les étiquettes en %2</translation>
    </message>
    <message>
        <source>print route: queue &quot;%1&quot; gets the labels as PDF: its driver %2</source>
        <translation>chaîne d&apos;impression : la file « %1 » reçoit les étiquettes en PDF : son pilote %2</translation>
    </message>
    <message>
        <source>%1; only labels the queue&apos;s driver cannot take as raster go that way</source>
        <translation>%1 ; seules les étiquettes que le pilote de la file ne peut prendre en trame passent par là</translation>
    </message>
</context>
<context>
    <name>plx::Form1</name>
    <message>
        <source>Nothing was printed: the picture has no dot in the print colours.</source>
        <translation>Rien n&apos;a été imprimé : l&apos;image n&apos;a aucun point dans les couleurs d&apos;impression.</translation>
    </message>
    <message>
        <source>Printed on &quot;%1&quot;: &quot;%2&quot; is not installed.</source>
        <translation>Imprimé sur « %1 » : « %2 » n&apos;est pas installée.</translation>
    </message>
</context>
</TS>
