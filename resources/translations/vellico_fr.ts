<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR" sourcelanguage="fr_FR">
<context>
    <name>Vellico</name>
    <message>
        <source>alias - résolution impossible « %1 »</source>
        <translation>Impossible de retrouver la bibliothèque vers laquelle pointe l’alias « %1 ». Elle a peut-être été déplacée, renommée, ou se trouve sur un disque qui n’est pas branché.</translation>
    </message>
    <message>
        <source>Render Files — aide</source>
        <translation>Fichiers de rendu des effets, titres, transitions et corrections. Final Cut Pro les recrée automatiquement quand il en a besoin : les supprimer ne touche jamais à votre montage.</translation>
    </message>
    <message>
        <source>Shared Items — aide</source>
        <translation>Copies des exports et partages réalisés depuis la bibliothèque. Vos fichiers exportés ailleurs ne sont pas concernés ; ces copies internes peuvent partir sans risque.</translation>
    </message>
    <message>
        <source>Analysis Files — aide</source>
        <translation>Résultats des analyses (stabilisation, détection des personnes, équilibre des couleurs). Final Cut Pro sait les recalculer, mais cela peut prendre du temps sur un long projet.</translation>
    </message>
    <message>
        <source>Transcoded Media — aide</source>
        <translation>Médias optimisés et proxys. Final Cut Pro peut les recréer à partir des médias originaux, tant que ceux-ci restent disponibles.</translation>
    </message>
    <message>
        <source>flexo.apple.com — aide</source>
        <translation>Données que Final Cut Pro génère pour toute la bibliothèque (vignettes, caches de forme d’onde). Elles sont reconstruites à la prochaine ouverture.</translation>
    </message>
    <message>
        <source>VideoSegmentationFiles — aide</source>
        <translation>Fichiers de segmentation vidéo, utilisés pour isoler les sujets. Les recréer demande une nouvelle analyse longue : ils ne sont jamais présélectionnés.</translation>
    </message>
    <message>
        <source>Final Cut Backups — aide</source>
        <translation>Sauvegardes automatiques de cette bibliothèque, rangées hors du paquet. Précieuses tant que le montage est en cours, elles peuvent être supprimées une fois le projet terminé.</translation>
    </message>
</context>
</TS>
