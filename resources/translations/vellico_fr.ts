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
    <message>
        <source>intro - titre</source>
        <translation>Faites de la place dans vos bibliothèques Final Cut Pro</translation>
    </message>
    <message>
        <source>intro - paragraphe 1</source>
        <translation>Une bibliothèque grossit à chaque montage : fichiers de rendu, médias optimisés, analyses, copies de partage. Final Cut Pro sait tous les recréer, mais ne les supprime jamais de lui-même.</translation>
    </message>
    <message>
        <source>intro - paragraphe 2</source>
        <translation>Vellico repère ces fichiers générés et les retire en toute sécurité. Vos médias, vos projets et vos réglages ne sont jamais touchés.</translation>
    </message>
    <message>
        <source>intro - Trois étapes simples :</source>
        <translation>Trois étapes simples :</translation>
    </message>
    <message>
        <source>intro - étape 1</source>
        <translation>Glissez une bibliothèque dans la zone ci-dessus.</translation>
    </message>
    <message>
        <source>intro - étape 2</source>
        <translation>Choisissez où en est votre montage : en cours ou terminé.</translation>
    </message>
    <message>
        <source>intro - étape 3</source>
        <translation>Vérifiez la sélection, puis supprimez.</translation>
    </message>
    <message>
        <source>intro - Tutoriel vidéo</source>
        <translation>Voir le tutoriel vidéo</translation>
    </message>
    <message>
        <source>alias - titre alerte</source>
        <translation>Alias de bibliothèque</translation>
    </message>
    <message>
        <source>alias - description alerte « %1 »</source>
        <translation>« %1 » est un alias qui pointe vers une bibliothèque Final Cut Pro. Voulez-vous analyser la bibliothèque d’origine ?</translation>
    </message>
    <message>
        <source>alias - bouton analyser</source>
        <translation>Analyser la bibliothèque</translation>
    </message>
    <message>
        <source>alias - bouton afficher finder</source>
        <translation>Afficher l’alias dans le gestionnaire de fichiers</translation>
    </message>
    <message>
        <source>Documentation (⌘?)</source>
        <translation>Documentation (Ctrl+?)</translation>
    </message>
    <message>
        <source>⌘⌥ au lancement : réinitialise les préférences</source>
        <translation>Ctrl+Alt au lancement : réinitialise les préférences</translation>
    </message>
</context>
</TS>
