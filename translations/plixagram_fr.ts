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
        <source>%1: printed in mode %2, %3 copy, printer &quot;%4&quot;, job %5 (%6 s)</source>
        <translation>%1 : imprimé en mode %2, %3 exemplaire, imprimante « %4 », travail %5 (%6 s)</translation>
    </message>
    <message>
        <source>%1: printed in mode %2, %3 copies, printer &quot;%4&quot;, job %5 (%6 s)</source>
        <translation>%1 : imprimé en mode %2, %3 exemplaires, imprimante « %4 », travail %5 (%6 s)</translation>
    </message>
    <message>
        <source>printed, but could not be deleted (%1): not printed again while the station runs</source>
        <translation>imprimé, mais impossible à supprimer (%1) : il ne sera plus imprimé tant que la station tourne</translation>
    </message>
    <message>
        <source>%1; %2</source>
        <translation>%1 ; %2</translation>
    </message>
    <message>
        <source>printed</source>
        <translation>imprimé</translation>
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
        <source>test print sent: job %1</source>
        <translation>impression de test envoyée : travail %1</translation>
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
</context>
</TS>
