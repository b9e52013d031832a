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
        <source>%1: cannot delete the held file: %2</source>
        <translation>%1 : impossible de supprimer le fichier retenu : %2</translation>
    </message>
    <message>
        <source>%1: job %2 failed at the printer (%3)</source>
        <translation>%1 : le travail %2 a échoué à l&apos;imprimante (%3)</translation>
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
    <message>
        <source>watch folder &quot;%1&quot;: job files are taken again</source>
        <translation>dossier surveillé « %1 » : les fichiers de travail sont de nouveau pris</translation>
    </message>
    <message>
        <source>took over watch folder &quot;%1&quot;: the station that held it let it go</source>
        <translation>dossier surveillé « %1 » repris : la station qui le tenait l&apos;a laissé</translation>
    </message>
    <message>
        <source>following %1 job(s) taken over from the station that held the folder</source>
        <translation>suivi de %1 travail(aux) repris de la station qui tenait le dossier</translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot;: job files can be taken out again</source>
        <translation>dossier surveillé « %1 » : les fichiers de travail peuvent de nouveau en être retirés</translation>
    </message>
    <message>
        <source>%1: removed before it could be printed</source>
        <translation>%1 : supprimé avant d&apos;avoir pu être imprimé</translation>
    </message>
    <message>
        <source>job files cannot be taken out of watch folder &quot;%1&quot; (%2): nothing is printed until that is mended; the files stay</source>
        <translation>les fichiers de travail ne peuvent pas être retirés du dossier surveillé « %1 » (%2) : rien n&apos;est imprimé tant que ce n&apos;est pas réparé ; les fichiers restent</translation>
    </message>
    <message>
        <source>waiting: the file cannot be taken out of the folder</source>
        <translation>en attente : le fichier ne peut pas être retiré du dossier</translation>
    </message>
    <message>
        <source>the held folder &quot;%1&quot; %2: the station neither uses nor touches it and prints nothing until it is mended (remove it: the station makes its own)</source>
        <translation>le dossier de garde « %1 » %2 : la station ne l&apos;utilise ni n&apos;y touche et n&apos;imprime rien tant que ce n&apos;est pas réparé (supprimez-le : la station fait le sien)</translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot; is not writable by the station (user %2): nothing is printed until it is; as a service, give it write access: see plixagram(1), WATCH FOLDER ACCESS</source>
        <translation>la station (utilisateur %2) ne peut pas écrire dans le dossier surveillé « %1 » : rien n&apos;est imprimé tant qu&apos;elle ne le peut pas ; en service, donnez-lui l&apos;accès en écriture : voir plixagram(1), WATCH FOLDER ACCESS</translation>
    </message>
    <message>
        <source>watch folder &quot;%1&quot; is held by another station (%2): standing by, printing nothing until it lets go</source>
        <translation>le dossier surveillé « %1 » est tenu par une autre station (%2) : en attente, rien n&apos;est imprimé tant qu&apos;elle ne le laisse pas</translation>
    </message>
    <message>
        <source>the held folder of watch folder &quot;%1&quot; was moved or replaced while the station ran: no new job file is taken until it is back or the station restarts</source>
        <translation>le dossier de garde du dossier surveillé « %1 » a été déplacé ou remplacé pendant que la station tournait : aucun nouveau fichier de travail n&apos;est pris tant qu&apos;il n&apos;est pas revenu ou que la station n&apos;a pas redémarré</translation>
    </message>
    <message>
        <source>cannot be made (%1)</source>
        <translation>ne peut pas être créé (%1)</translation>
    </message>
    <message>
        <source>is a symbolic link</source>
        <translation>est un lien symbolique</translation>
    </message>
    <message>
        <source>is not a folder</source>
        <translation>n&apos;est pas un dossier</translation>
    </message>
    <message>
        <source>cannot be opened (%1)</source>
        <translation>ne peut pas être ouvert (%1)</translation>
    </message>
    <message>
        <source>cannot be opened</source>
        <translation>ne peut pas être ouvert</translation>
    </message>
    <message>
        <source>belongs to user %1, not to the station&apos;s user %2</source>
        <translation>appartient à l&apos;utilisateur %1, pas à l&apos;utilisateur de la station %2</translation>
    </message>
    <message>
        <source>can be written by others than its owner (mode %1)</source>
        <translation>peut être écrit par d&apos;autres que son propriétaire (mode %1)</translation>
    </message>
    <message>
        <source>%1: claimed, but the print server has no job for it</source>
        <translation>%1 : réservé, mais le serveur d&apos;impression n&apos;a aucun travail pour lui</translation>
    </message>
    <message>
        <source>%1: the print server has it as job %2 (handed over before that was recorded): followed</source>
        <translation>%1 : le serveur d&apos;impression l&apos;a comme travail %2 (remis avant d&apos;avoir été noté) : suivi</translation>
    </message>
    <message>
        <source>%1: the print server no longer knows job %2, so whether it printed cannot be told</source>
        <translation>%1 : le serveur d&apos;impression ne connaît plus le travail %2, on ne peut donc pas savoir s&apos;il a été imprimé</translation>
    </message>
    <message>
        <source>%1: job number %2 now belongs to another job on the print server, so whether it printed cannot be told</source>
        <translation>%1 : le numéro de travail %2 appartient maintenant à un autre travail du serveur d&apos;impression, on ne peut donc pas savoir s&apos;il a été imprimé</translation>
    </message>
    <message>
        <source>failed at the printer %1 times in a row: set aside until the file changes or the station restarts</source>
        <translation>a échoué %1 fois de suite à l&apos;imprimante : mis de côté jusqu&apos;à ce que le fichier change ou que la station redémarre</translation>
    </message>
    <message>
        <source>removed before it was printed</source>
        <translation>supprimé avant d&apos;être imprimé</translation>
    </message>
    <message>
        <source>%1: over after %2</source>
        <translation>%1 : terminé après %2</translation>
    </message>
    <message>
        <source>%1 (for %2 now)</source>
        <translation>%1 (depuis %2)</translation>
    </message>
    <message>
        <source>waiting</source>
        <translation>en attente</translation>
    </message>
    <message>
        <source>printing</source>
        <translation>en impression</translation>
    </message>
    <message>
        <source>held at the printer</source>
        <translation>à l&apos;imprimante</translation>
    </message>
    <message>
        <source>set aside</source>
        <translation>mis de côté</translation>
    </message>
    <message>
        <source>bad file</source>
        <translation>fichier refusé</translation>
    </message>
    <message>
        <source>changing</source>
        <translation>en cours d&apos;écriture</translation>
    </message>
    <message>
        <source>retrying</source>
        <translation>nouvel essai</translation>
    </message>
    <message>
        <source>shown only</source>
        <translation>affiché seulement</translation>
    </message>
    <message>
        <source>stopped</source>
        <translation>arrêtée</translation>
    </message>
    <message>
        <source>stopped: %1</source>
        <translation>arrêtée : %1</translation>
    </message>
    <message>
        <source>not accepting jobs</source>
        <translation>fermée aux nouveaux travaux</translation>
    </message>
    <message>
        <source>not accepting jobs: %1</source>
        <translation>fermée aux nouveaux travaux : %1</translation>
    </message>
    <message>
        <source>the station&apos;s state is not written for &quot;plixagram status&quot;: %1</source>
        <translation>l&apos;état de la station n&apos;est pas écrit pour « plixagram status » : %1</translation>
    </message>
    <message>
        <source>no status page: %1</source>
        <translation>pas de page d&apos;état : %1</translation>
    </message>
    <message>
        <source>status page on %1</source>
        <translation>page d&apos;état sur %1</translation>
    </message>
    <message>
        <source>waiting for the print server&apos;s answer</source>
        <translation>en attente de la réponse du serveur d&apos;impression</translation>
    </message>
    <message>
        <source>job %1 at the printer</source>
        <translation>travail %1 à l&apos;imprimante</translation>
    </message>
    <message>
        <source>the job history is kept again</source>
        <translation>l&apos;historique des travaux est de nouveau tenu</translation>
    </message>
    <message>
        <source>history is not being kept: %1</source>
        <translation>l&apos;historique des travaux n&apos;est pas tenu : %1</translation>
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
